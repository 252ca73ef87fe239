// A stand-in for winhttp.dll or bcrypt.dll planted beside a program, built
// once under each name with that DLL's list of calls. Loading it leaves a
// marker file beside it, "<its own path>.loaded", so a test can tell that a
// program picked it up. Every call fails at once (winhttp's with FALSE or
// null, bcrypt's with STATUS_NOT_SUPPORTED), so a program that loads it
// ends its run with an ordinary failure rather than a crash.
#include <windows.h>
#include <wchar.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t marker[1024];
    DWORD length = GetModuleFileNameW(instance, marker, 1000);
    if (length > 0 && length < 1000) {
      wcscat(marker, L".loaded");
      HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  return TRUE;
}

// One stdcall entry that takes bytes of arguments off the stack and returns
// result; the name carries the decoration the .def file lists. The 64-bit
// test twin has one calling convention, no decoration, and the caller
// clears the stack.
#if defined(__x86_64__)
#define FAILING_CALL(name, bytes, result)                  \
  __asm__(".globl " #name "\n"                            \
          #name ":\n"                                     \
          "  movl $" #result ", %eax\n"                    \
          "  ret\n");
#else
#define FAILING_CALL(name, bytes, result)                  \
  __asm__(".globl _" #name "@" #bytes "\n"                 \
          "_" #name "@" #bytes ":\n"                       \
          "  movl $" #result ", %eax\n"                    \
          "  ret $" #bytes "\n");
#endif

FAILING_CALL(WinHttpCloseHandle, 4, 0)
FAILING_CALL(WinHttpConnect, 16, 0)
FAILING_CALL(WinHttpCrackUrl, 16, 0)
FAILING_CALL(WinHttpOpen, 20, 0)
FAILING_CALL(WinHttpOpenRequest, 28, 0)
FAILING_CALL(WinHttpQueryDataAvailable, 8, 0)
FAILING_CALL(WinHttpQueryHeaders, 24, 0)
FAILING_CALL(WinHttpReadData, 16, 0)
FAILING_CALL(WinHttpReceiveResponse, 8, 0)
FAILING_CALL(WinHttpSendRequest, 28, 0)
FAILING_CALL(WinHttpSetOption, 16, 0)
FAILING_CALL(WinHttpSetTimeouts, 20, 0)

// 0xC00000BB: STATUS_NOT_SUPPORTED.
FAILING_CALL(BCryptCloseAlgorithmProvider, 8, 0xC00000BB)
FAILING_CALL(BCryptCreateHash, 28, 0xC00000BB)
FAILING_CALL(BCryptDestroyHash, 4, 0xC00000BB)
FAILING_CALL(BCryptDestroyKey, 4, 0xC00000BB)
FAILING_CALL(BCryptExportKey, 28, 0xC00000BB)
FAILING_CALL(BCryptFinalizeKeyPair, 8, 0xC00000BB)
FAILING_CALL(BCryptFinishHash, 16, 0xC00000BB)
FAILING_CALL(BCryptGenerateKeyPair, 16, 0xC00000BB)
FAILING_CALL(BCryptHashData, 16, 0xC00000BB)
FAILING_CALL(BCryptImportKeyPair, 28, 0xC00000BB)
FAILING_CALL(BCryptOpenAlgorithmProvider, 16, 0xC00000BB)
FAILING_CALL(BCryptSignHash, 32, 0xC00000BB)
FAILING_CALL(BCryptVerifySignature, 28, 0xC00000BB)
