// Declarations of the shell's folder-browse dialog as the headless window
// system implements it (classic style only), with the names, types and values
// of <shlobj.h>. Item identifier lists have the real layout: a run of
// SHITEMID records, each starting with its byte count, ended by a count of 0;
// they are allocated with CoTaskMemAlloc and freed with CoTaskMemFree.
#pragma once

#include <cstddef>

#include "platform/headless/win32_api.h"

typedef LONG HRESULT;
typedef unsigned short USHORT;

#define S_OK (static_cast<HRESULT>(0L))
#define S_FALSE (static_cast<HRESULT>(1L))
#define E_FAIL (static_cast<HRESULT>(0x80004005L))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057L))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#pragma pack(push, 1)
struct SHITEMID {
  USHORT cb;  // size of the record, cb included
  BYTE abID[1];
};
struct ITEMIDLIST {
  SHITEMID mkid;
};
#pragma pack(pop)
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef ITEMIDLIST* PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;

typedef int(CALLBACK* BFFCALLBACK)(HWND hwnd, UINT msg, LPARAM lparam, LPARAM data);

struct BROWSEINFOA {
  HWND hwndOwner;
  LPCITEMIDLIST pidlRoot;
  LPSTR pszDisplayName;
  LPCSTR lpszTitle;
  UINT ulFlags;
  BFFCALLBACK lpfn;
  LPARAM lParam;
  int iImage;
};
typedef BROWSEINFOA* LPBROWSEINFOA;

// Flags of BROWSEINFOA::ulFlags.
#define BIF_RETURNONLYFSDIRS 0x00000001
#define BIF_DONTGOBELOWDOMAIN 0x00000002
#define BIF_STATUSTEXT 0x00000004
#define BIF_RETURNFSANCESTORS 0x00000008
#define BIF_EDITBOX 0x00000010
#define BIF_VALIDATE 0x00000020
#define BIF_NEWDIALOGSTYLE 0x00000040
#define BIF_BROWSEFORCOMPUTER 0x00001000
#define BIF_BROWSEFORPRINTER 0x00002000
#define BIF_BROWSEINCLUDEFILES 0x00004000

// Notifications to the callback.
#define BFFM_INITIALIZED 1
#define BFFM_SELCHANGED 2
#define BFFM_VALIDATEFAILEDA 3
#define BFFM_VALIDATEFAILEDW 4
#define BFFM_IUNKNOWN 5

// Messages to the dialog.
#define BFFM_SETSTATUSTEXTA (WM_USER + 100)
#define BFFM_ENABLEOK (WM_USER + 101)
#define BFFM_SETSELECTIONA (WM_USER + 102)

// Special folders.
#define CSIDL_DESKTOP 0x0000
#define CSIDL_CONTROLS 0x0003
#define CSIDL_PRINTERS 0x0004
#define CSIDL_BITBUCKET 0x000a
#define CSIDL_DRIVES 0x0011
#define CSIDL_NETWORK 0x0012
#define CSIDL_NETHOOD 0x0013

// Help request carried by WM_HELP.
#define HELPINFO_WINDOW 0x0001
struct HELPINFO {
  UINT cbSize;
  int iContextType;
  int iCtrlId;
  HANDLE hItemHandle;
  DWORD_PTR dwContextId;
  POINT MousePos;
};
typedef HELPINFO* LPHELPINFO;

// OLE on the calling thread: the first call starts it (S_OK), later ones
// only count (S_FALSE); each is matched by one OleUninitialize.
HRESULT WINAPI OleInitialize(LPVOID reserved);
void WINAPI OleUninitialize();

// Asserts (throws std::logic_error) when OLE is not started on the calling
// thread: the system's dialog needs a single-threaded apartment.
LPITEMIDLIST WINAPI SHBrowseForFolderA(LPBROWSEINFOA info);
BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST item_list, LPSTR path);
HRESULT WINAPI SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* item_list);
LPVOID WINAPI CoTaskMemAlloc(std::size_t size);
void WINAPI CoTaskMemFree(LPVOID memory);
