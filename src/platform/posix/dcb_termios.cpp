#include "platform/posix/dcb_termios.h"

#include <cstring>

#include "platform/posix/errors.h"

namespace kavex::posix {

namespace {

struct BaudRate {
    DWORD rate;
    speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool SpeedFromRate(DWORD rate, speed_t* speed) {
    for (const BaudRate& entry : kBaudRates) {
        if (entry.rate == rate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

DWORD RateFromSpeed(speed_t speed) {
    for (const BaudRate& entry : kBaudRates) {
        if (entry.speed == speed) return entry.rate;
    }
    return 9600;
}

}  // namespace

DCB DcbFromTermios(const termios& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = RateFromSpeed(cfgetospeed(&settings));
    dcb.fBinary = TRUE;
    dcb.fParity = (settings.c_iflag & INPCK) ? TRUE : FALSE;
    dcb.fOutxCtsFlow = (settings.c_cflag & CRTSCTS) ? TRUE : FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = (settings.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = (settings.c_iflag & IXON) ? TRUE : FALSE;
    dcb.fInX = (settings.c_iflag & IXOFF) ? TRUE : FALSE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    switch (settings.c_cflag & CSIZE) {
        case CS5: dcb.ByteSize = 5; break;
        case CS6: dcb.ByteSize = 6; break;
        case CS7: dcb.ByteSize = 7; break;
        default: dcb.ByteSize = 8; break;
    }
    if (!(settings.c_cflag & PARENB)) {
        dcb.Parity = NOPARITY;
    } else if (settings.c_cflag & CMSPAR) {
        dcb.Parity = (settings.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    } else {
        dcb.Parity = (settings.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    }
    dcb.StopBits = (settings.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = static_cast<char>(settings.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
    return dcb;
}

bool SameTermios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_line == b.c_line &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b);
}

BOOL ValidateDcb(const DCB& dcb) {
    speed_t speed;
    if (!SpeedFromRate(dcb.BaudRate, &speed)) return Fail(ERROR_INVALID_PARAMETER);
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return Fail(ERROR_INVALID_PARAMETER);
    if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return Fail(ERROR_INVALID_PARAMETER);
    // 1.5 stop bits exist only with 5 data bits, and 2 only with more.
    if ((dcb.StopBits == ONE5STOPBITS) != (dcb.ByteSize == 5) && dcb.StopBits != ONESTOPBIT) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}

bool ApplyDcbToTermios(const DCB& dcb, termios* settings) {
    speed_t speed;
    if (!SpeedFromRate(dcb.BaudRate, &speed)) return false;
    cfsetispeed(settings, speed);
    cfsetospeed(settings, speed);

    settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    settings->c_cflag |= CLOCAL | CREAD;
    switch (dcb.ByteSize) {
        case 5: settings->c_cflag |= CS5; break;
        case 6: settings->c_cflag |= CS6; break;
        case 7: settings->c_cflag |= CS7; break;
        default: settings->c_cflag |= CS8; break;
    }
    switch (dcb.Parity) {
        case ODDPARITY: settings->c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: settings->c_cflag |= PARENB; break;
        case MARKPARITY: settings->c_cflag |= PARENB | PARODD | CMSPAR; break;
        case SPACEPARITY: settings->c_cflag |= PARENB | CMSPAR; break;
        default: break;
    }
    if (dcb.StopBits != ONESTOPBIT) settings->c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) settings->c_cflag |= CRTSCTS;

    settings->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    if (dcb.fOutX) settings->c_iflag |= IXON;
    if (dcb.fInX) settings->c_iflag |= IXOFF;
    if (dcb.fParity) settings->c_iflag |= INPCK;
    settings->c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    settings->c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    return true;
}

}  // namespace kavex::posix
