#include "platform/win32/Win32ComTransport.h"

#include <algorithm>
#include <cctype>

#include "korvelcom/platform/SocketSerialComm.h"
#include "platform/BufferedSerialComm.h"

namespace korvel {
namespace {

BYTE parityCode(char parity) {
    switch (parity) {
        case 'e':
            return EVENPARITY;
        case 'o':
            return ODDPARITY;
        case 'm':
            return MARKPARITY;
        case 's':
            return SPACEPARITY;
        default:
            return NOPARITY;
    }
}

char parityLetter(BYTE code) {
    switch (code) {
        case EVENPARITY:
            return 'e';
        case ODDPARITY:
            return 'o';
        case MARKPARITY:
            return 'm';
        case SPACEPARITY:
            return 's';
        default:
            return 'n';
    }
}

BYTE stopCode(const LineSettings& line) {
    if (line.stopHalfBits == 3) return line.dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    return line.stopHalfBits > 2 ? TWOSTOPBITS : ONESTOPBIT;
}

/// How often a port with nothing arriving is checked for having gone away.
constexpr DWORD kCheckEveryMs = 50;

int stopHalfBitsOf(BYTE code) {
    return code == ONE5STOPBITS ? 3 : code == TWOSTOPBITS ? 4 : 2;
}

}  // namespace

std::string win32ErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

std::string Win32ComTransport::devicePath(const std::string& name) {
    const bool com =
        name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'M' &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    return com ? "\\\\.\\" + name : name;
}

Endpoint resolveWin32Port(int16_t port) {
    const std::string text = PortMap::lookup(port);
    // The map's last resort names a POSIX device, which means nothing here: port N is COMn.
    if (text == "/dev/ttyS" + std::to_string(port - 1))
        return Endpoint::parse("\\\\.\\COM" + std::to_string(port), port);
    return Endpoint::parse(text, port);
}

Win32ComTransport::Win32ComTransport() {
    // Manual-reset events, as overlapped I/O requires; each I/O call resets its own.
    readOv_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeOv_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Win32ComTransport::~Win32ComTransport() {
    close();
    if (readOv_.hEvent) CloseHandle(readOv_.hEvent);
    if (writeOv_.hEvent) CloseHandle(writeOv_.hEvent);
}

ReadyHandle Win32ComTransport::readyHandle() const {
    if (h_ == INVALID_HANDLE_VALUE || !gone_.empty()) return kNoReadyHandle;
    return reinterpret_cast<ReadyHandle>(readOv_.hEvent);
}

void Win32ComTransport::open(const Endpoint& where, const LineSettings& line) {
    if (open_) throw SerialError(where.label() + ": the transport is already open");
    const std::string name = where.label();
    if (where.kind != Endpoint::Kind::Device) throw SerialError(name + ": not a serial device");
    if (!readOv_.hEvent || !writeOv_.hEvent)
        throw SerialError(name + ": cannot create the port's events");
    const std::string path = devicePath(where.path);
    // The claim first, so that a refused opener never touches the owner's port.
    std::string claimName = "KorvelCom port " + path;
    std::replace(claimName.begin(), claimName.end(), '\\', '/');  // '\' separates namespaces
    std::transform(claimName.begin(), claimName.end(), claimName.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    HANDLE claim = CreateMutexA(nullptr, FALSE, claimName.c_str());
    if (!claim || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (claim) CloseHandle(claim);
        throw SerialError(name + ": the device is busy");
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        CloseHandle(claim);
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_BAD_NETPATH ||
            e == ERROR_INVALID_NAME)
            throw SerialError(name + ": the device does not exist");
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            throw SerialError(name + ": the device is busy");
        throw SerialError(name + ": cannot open the device: " + win32ErrorText(e));
    }
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &probe)) {
        CloseHandle(h);
        CloseHandle(claim);
        throw SerialError(name + ": not a serial device");
    }
    h_ = h;
    claim_ = claim;
    open_ = true;
    where_ = where;
    try {
        applySettings(line);
        // No time-outs at all: a read completes when all it asked for has arrived, which for
        // the single-byte read means the first byte.
        COMMTIMEOUTS none{};
        if (!SetCommTimeouts(h_, &none))
            throw SerialError(name +
                              ": cannot set the time-outs: " + win32ErrorText(GetLastError()));
    } catch (...) {
        CloseHandle(h_);
        CloseHandle(claim_);
        h_ = INVALID_HANDLE_VALUE;
        claim_ = nullptr;
        open_ = false;
        where_ = {};
        throw;
    }
    (void)SetupComm(h_, 4096, 4096);
    // A port starts empty: whatever arrived while nobody had it open is dropped.
    (void)PurgeComm(h_, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    tx_.clear();
    gone_.clear();
    (void)startRead();
}

void Win32ComTransport::applySettings(const LineSettings& want) {
    const std::string name = where_.label();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h_, &dcb))
        throw SerialError(name +
                          ": cannot read the line settings: " + win32ErrorText(GetLastError()));
    dcb.BaudRate = static_cast<DWORD>(want.baud);
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.StopBits = stopCode(want);

    DCB full = dcb;
    full.ByteSize = static_cast<BYTE>(want.dataBits);
    full.Parity = parityCode(want.parity);
    full.fParity = want.parity != 'n';
    if (!SetCommState(h_, &full)) {
        // The driver refused the framing (a pseudo-terminal takes only 8 data bits without
        // parity): run with what it can do, as the POSIX layer does.
        DCB plain = dcb;
        plain.ByteSize = 8;
        plain.Parity = NOPARITY;
        plain.fParity = FALSE;
        if (plain.StopBits == ONE5STOPBITS) plain.StopBits = TWOSTOPBITS;
        if (!SetCommState(h_, &plain))
            throw SerialError(name + ": baud rate " + std::to_string(want.baud) +
                              " or the line settings refused: " + win32ErrorText(GetLastError()));
    }
    DCB back{};
    back.DCBlength = sizeof back;
    if (!GetCommState(h_, &back)) back = full;
    applied_ = want;
    applied_.baud = static_cast<int32_t>(back.BaudRate);
    applied_.parity = parityLetter(back.Parity);
    applied_.dataBits = back.ByteSize;
    applied_.stopHalfBits = stopHalfBitsOf(back.StopBits);
}

void Win32ComTransport::releaseHandle() noexcept {
    if (h_ == INVALID_HANDLE_VALUE) return;
    // The driver owns the OVERLAPPED blocks and buffers until each cancelled call completes.
    (void)CancelIoEx(h_, nullptr);
    DWORD n = 0;
    if (readPending_) (void)GetOverlappedResult(h_, &readOv_, &n, TRUE);
    if (writePending_) (void)GetOverlappedResult(h_, &writeOv_, &n, TRUE);
    readPending_ = writePending_ = false;
    CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    if (claim_) CloseHandle(claim_);
    claim_ = nullptr;
}

void Win32ComTransport::close() noexcept {
    if (!open_) return;
    if (gone_.empty()) {
        (void)flushOutput();
        if (writePending_) {
            // Give the write in flight its wire time (and a margin) before cancelling it.
            const auto us = applied_.charTimeUs() * static_cast<int64_t>(inFlight_.size());
            (void)WaitForSingleObject(writeOv_.hEvent, static_cast<DWORD>(200 + us / 1000));
        }
    }
    releaseHandle();
    tx_.clear();
    inFlight_.clear();
    open_ = false;
    where_ = {};
    gone_.clear();
}

void Win32ComTransport::markGone(const std::string& reason) {
    if (!gone_.empty()) return;
    gone_ = reason;
    tx_.clear();
    // A vanished device's handle guards nothing: release it so that the port can be opened
    // again when the device returns.
    releaseHandle();
    inFlight_.clear();
}

bool Win32ComTransport::startRead() {
    if (readPending_) return true;
    if (h_ == INVALID_HANDLE_VALUE || !gone_.empty()) return false;
    readPending_ = true;
    if (!ReadFile(h_, &readByte_, 1, nullptr, &readOv_) && GetLastError() != ERROR_IO_PENDING) {
        readPending_ = false;
        markGone("read failed: " + win32ErrorText(GetLastError()));
        return false;
    }
    // Completed at once or pending: either way the event tells, and `collectRead` takes it.
    return true;
}

void Win32ComTransport::collectRead(std::string& into) {
    if (!readPending_) return;
    DWORD n = 0;
    if (GetOverlappedResult(h_, &readOv_, &n, FALSE)) {
        readPending_ = false;
        if (n == 1) {
            into += readByte_;
        } else {
            // Without time-outs a read ends early only at end of file: the line hung up.
            markGone("the device hung up");
        }
        return;
    }
    const DWORD e = GetLastError();
    if (e == ERROR_IO_INCOMPLETE) return;
    readPending_ = false;
    markGone("read failed: " + win32ErrorText(e));
}

std::size_t Win32ComTransport::read(std::string& into, std::size_t max) {
    if (!open_ || !gone_.empty() || max == 0) return 0;
    if (!flushOutput()) return 0;
    const std::size_t before = into.size();
    collectRead(into);
    if (into.size() == before && gone_.empty()) {
        // Nothing arrived.  A pseudo-terminal behind Wine whose other side closed never ends
        // the outstanding read, so the line settings are read back, at most every 50 ms: that
        // fails on a hung-up terminal (and on Windows for an unplugged adapter).
        const DWORD now = GetTickCount();
        if (now - lastCheck_ >= kCheckEveryMs) {
            lastCheck_ = now;
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            if (!GetCommState(h_, &dcb))
                markGone("the device hung up: " + win32ErrorText(GetLastError()));
        }
    } else if (into.size() > before) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(h_, &errors, &stat)) {
            markGone("the device is gone: " + win32ErrorText(GetLastError()));
            return into.size() - before;
        }
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(stat.cbInQue, max - (into.size() - before)));
        if (want > 0) {
            std::string buf(want, '\0');
            DWORD n = 0;
            // The bytes are already in the driver's buffer, so this read completes at once.
            if (!ReadFile(h_, buf.data(), want, nullptr, &readOv_) &&
                GetLastError() != ERROR_IO_PENDING) {
                markGone("read failed: " + win32ErrorText(GetLastError()));
            } else if (!GetOverlappedResult(h_, &readOv_, &n, TRUE)) {
                markGone("read failed: " + win32ErrorText(GetLastError()));
            } else {
                into.append(buf.data(), n);
            }
            std::fill(buf.begin(), buf.end(), '\0');
        }
    }
    // The next byte, unless this read filled what the caller has room for: then the driver
    // keeps what follows until the next read.
    if (into.size() - before < max) (void)startRead();
    return into.size() - before;
}

bool Win32ComTransport::flushOutput() {
    for (;;) {
        if (writePending_) {
            DWORD n = 0;
            if (!GetOverlappedResult(h_, &writeOv_, &n, FALSE)) {
                const DWORD e = GetLastError();
                if (e == ERROR_IO_INCOMPLETE) return true;
                writePending_ = false;
                markGone("write failed: " + win32ErrorText(e));
                return false;
            }
            writePending_ = false;
            inFlight_.erase(0, n);
            // A write that took only part (a write time-out) sends the rest first.
            tx_.insert(0, inFlight_);
            inFlight_.clear();
        }
        if (tx_.empty()) return true;
        inFlight_.swap(tx_);
        writePending_ = true;
        if (!WriteFile(h_, inFlight_.data(), static_cast<DWORD>(inFlight_.size()), nullptr,
                       &writeOv_) &&
            GetLastError() != ERROR_IO_PENDING) {
            writePending_ = false;
            markGone("write failed: " + win32ErrorText(GetLastError()));
            return false;
        }
    }
}

void Win32ComTransport::write(const std::string& bytes) {
    if (!open_) throw SerialError("the device is not open");
    if (!gone_.empty()) throw SerialError(gone_);
    tx_ += bytes;
    if (!flushOutput()) throw SerialError(gone_);
}

std::unique_ptr<Transport> makeSystemTransport(const Endpoint& where) {
    if (auto network = makeNetworkTransport(where)) return network;
    return std::make_unique<Win32ComTransport>();
}

// A port without a platform reaches its endpoints through this OS's transports.
BufferedSerialComm::Opener systemOpener() {
    return [](int16_t port, const LineSettings& line) {
        const Endpoint where = resolveWin32Port(port);
        std::unique_ptr<Transport> transport = makeSystemTransport(where);
        transport->open(where, line);
        return transport;
    };
}

}  // namespace korvel
