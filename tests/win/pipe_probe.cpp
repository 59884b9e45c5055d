// A hostile or curious program on the service's pipe, for the black-box tests:
//   pipe_probe lying    a frame whose length announces more than any frame may hold
//   pipe_probe noise    a short length followed by random bytes
//     each prints "dropped" once the service has hung up on it (exit 0), "kept" if it has not
//     within 30 s (exit 1)
//   pipe_probe sddl     prints the pipe's owner and access list as SDDL, and its server process
// Exit 2 when the pipe cannot be opened.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kPipe[] = L"\\\\.\\pipe\\Movra";

// Waits for the server to hang up: a read that ends with a broken pipe.
bool HungUp(HANDLE pipe) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const ULONGLONG end = GetTickCount64() + 30000;
    char buffer[4096];
    while (GetTickCount64() < end) {
        DWORD n = 0;
        ResetEvent(ov.hEvent);
        if (!ReadFile(pipe, buffer, sizeof(buffer), nullptr, &ov) &&
            GetLastError() != ERROR_IO_PENDING)
            return true;
        if (WaitForSingleObject(ov.hEvent, static_cast<DWORD>(end - GetTickCount64())) !=
            WAIT_OBJECT_0) {
            CancelIoEx(pipe, &ov);
            GetOverlappedResult(pipe, &ov, &n, TRUE);
            return false;
        }
        if (!GetOverlappedResult(pipe, &ov, &n, FALSE)) return true;
    }
    return false;
}

bool Write(HANDLE pipe, const std::vector<uint8_t>& bytes) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    if (!WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING)
        return false;
    return GetOverlappedResult(pipe, &ov, &n, TRUE) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HANDLE pipe = CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        std::printf("cannot open the pipe: %lu\n", GetLastError());
        return 2;
    }
    if (wcscmp(argv[1], L"sddl") == 0) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
            return 1;
        wchar_t* text = nullptr;
        if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
                sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
                nullptr))
            return 1;
        ULONG server = 0;
        GetNamedPipeServerProcessId(pipe, &server);
        std::printf("%ls\nserver %lu\n", text, server);
        return 0;
    }
    std::vector<uint8_t> bytes;
    if (wcscmp(argv[1], L"lying") == 0) {
        bytes = {0xFF, 0xFF, 0xFF, 0x7F, 0xA2, 0x01, 0x02};
    } else if (wcscmp(argv[1], L"noise") == 0) {
        bytes.resize(64);
        uint32_t x = GetTickCount();
        for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        bytes[0] = 60, bytes[1] = bytes[2] = bytes[3] = 0;
    } else {
        return 2;
    }
    if (!Write(pipe, bytes)) {
        std::printf("dropped\n");
        return 0;
    }
    const bool dropped = HungUp(pipe);
    std::printf(dropped ? "dropped\n" : "kept\n");
    return dropped ? 0 : 1;
}
