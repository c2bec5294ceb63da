#pragma once
// The Windows headers as the backend includes them. Two of their A/W macros share a name with
// a port method (GetSystemDirectory, SHFileOperation), and the ports name some of their constants
// themselves (FO_COPY, SYNCHRONIZE, ...): those macros are removed, so that the port names work
// beside the Windows headers. The backend calls the ...A entry points by their full names.

#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#undef GetSystemDirectory
#undef SHFileOperation
#undef FO_MOVE
#undef FO_COPY
#undef FO_DELETE
#undef FO_RENAME
#undef FOF_SILENT
#undef FOF_NOCONFIRMATION
#undef FOF_ALLOWUNDO
#undef FOF_NOCONFIRMMKDIR
#undef FOF_NO_CONNECTED_ELEMENTS
#undef SYNCHRONIZE
#undef INFINITE
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
