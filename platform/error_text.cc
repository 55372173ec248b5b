#include "platform/error_text.h"

#include <charconv>
#include <cstring>

namespace launcher {
namespace {

// The texts in the order of the error numbers from 0, each ended by a zero byte; an empty one
// where Linux defines no error. One array of bytes: no table of addresses to relocate.
constexpr char kTexts[] =
    "Success\0"                                            // 0
    "Operation not permitted\0"                            // 1
    "No such file or directory\0"                          // 2
    "No such process\0"                                    // 3
    "Interrupted system call\0"                            // 4
    "Input/output error\0"                                 // 5
    "No such device or address\0"                          // 6
    "Argument list too long\0"                             // 7
    "Exec format error\0"                                  // 8
    "Bad file descriptor\0"                                // 9
    "No child processes\0"                                 // 10
    "Resource temporarily unavailable\0"                   // 11
    "Cannot allocate memory\0"                             // 12
    "Permission denied\0"                                  // 13
    "Bad address\0"                                        // 14
    "Block device required\0"                              // 15
    "Device or resource busy\0"                            // 16
    "File exists\0"                                        // 17
    "Invalid cross-device link\0"                          // 18
    "No such device\0"                                     // 19
    "Not a directory\0"                                    // 20
    "Is a directory\0"                                     // 21
    "Invalid argument\0"                                   // 22
    "Too many open files in system\0"                      // 23
    "Too many open files\0"                                // 24
    "Inappropriate ioctl for device\0"                     // 25
    "Text file busy\0"                                     // 26
    "File too large\0"                                     // 27
    "No space left on device\0"                            // 28
    "Illegal seek\0"                                       // 29
    "Read-only file system\0"                              // 30
    "Too many links\0"                                     // 31
    "Broken pipe\0"                                        // 32
    "Numerical argument out of domain\0"                   // 33
    "Numerical result out of range\0"                      // 34
    "Resource deadlock avoided\0"                          // 35
    "File name too long\0"                                 // 36
    "No locks available\0"                                 // 37
    "Function not implemented\0"                           // 38
    "Directory not empty\0"                                // 39
    "Too many levels of symbolic links\0"                  // 40
    "\0"                                                   // 41
    "No message of desired type\0"                         // 42
    "Identifier removed\0"                                 // 43
    "Channel number out of range\0"                        // 44
    "Level 2 not synchronized\0"                           // 45
    "Level 3 halted\0"                                     // 46
    "Level 3 reset\0"                                      // 47
    "Link number out of range\0"                           // 48
    "Protocol driver not attached\0"                       // 49
    "No CSI structure available\0"                         // 50
    "Level 2 halted\0"                                     // 51
    "Invalid exchange\0"                                   // 52
    "Invalid request descriptor\0"                         // 53
    "Exchange full\0"                                      // 54
    "No anode\0"                                           // 55
    "Invalid request code\0"                               // 56
    "Invalid slot\0"                                       // 57
    "\0"                                                   // 58
    "Bad font file format\0"                               // 59
    "Device not a stream\0"                                // 60
    "No data available\0"                                  // 61
    "Timer expired\0"                                      // 62
    "Out of streams resources\0"                           // 63
    "Machine is not on the network\0"                      // 64
    "Package not installed\0"                              // 65
    "Object is remote\0"                                   // 66
    "Link has been severed\0"                              // 67
    "Advertise error\0"                                    // 68
    "Srmount error\0"                                      // 69
    "Communication error on send\0"                        // 70
    "Protocol error\0"                                     // 71
    "Multihop attempted\0"                                 // 72
    "RFS specific error\0"                                 // 73
    "Bad message\0"                                        // 74
    "Value too large for defined data type\0"              // 75
    "Name not unique on network\0"                         // 76
    "File descriptor in bad state\0"                       // 77
    "Remote address changed\0"                             // 78
    "Can not access a needed shared library\0"             // 79
    "Accessing a corrupted shared library\0"               // 80
    ".lib section in a.out corrupted\0"                    // 81
    "Attempting to link in too many shared libraries\0"    // 82
    "Cannot exec a shared library directly\0"              // 83
    "Invalid or incomplete multibyte or wide character\0"  // 84
    "Interrupted system call should be restarted\0"        // 85
    "Streams pipe error\0"                                 // 86
    "Too many users\0"                                     // 87
    "Socket operation on non-socket\0"                     // 88
    "Destination address required\0"                       // 89
    "Message too long\0"                                   // 90
    "Protocol wrong type for socket\0"                     // 91
    "Protocol not available\0"                             // 92
    "Protocol not supported\0"                             // 93
    "Socket type not supported\0"                          // 94
    "Operation not supported\0"                            // 95
    "Protocol family not supported\0"                      // 96
    "Address family not supported by protocol\0"           // 97
    "Address already in use\0"                             // 98
    "Cannot assign requested address\0"                    // 99
    "Network is down\0"                                    // 100
    "Network is unreachable\0"                             // 101
    "Network dropped connection on reset\0"                // 102
    "Software caused connection abort\0"                   // 103
    "Connection reset by peer\0"                           // 104
    "No buffer space available\0"                          // 105
    "Transport endpoint is already connected\0"            // 106
    "Transport endpoint is not connected\0"                // 107
    "Cannot send after transport endpoint shutdown\0"      // 108
    "Too many references: cannot splice\0"                 // 109
    "Connection timed out\0"                               // 110
    "Connection refused\0"                                 // 111
    "Host is down\0"                                       // 112
    "No route to host\0"                                   // 113
    "Operation already in progress\0"                      // 114
    "Operation now in progress\0"                          // 115
    "Stale file handle\0"                                  // 116
    "Structure needs cleaning\0"                           // 117
    "Not a XENIX named type file\0"                        // 118
    "No XENIX semaphores available\0"                      // 119
    "Is a named type file\0"                               // 120
    "Remote I/O error\0"                                   // 121
    "Disk quota exceeded\0"                                // 122
    "No medium found\0"                                    // 123
    "Wrong medium type\0"                                  // 124
    "Operation canceled\0"                                 // 125
    "Required key not available\0"                         // 126
    "Key has expired\0"                                    // 127
    "Key has been revoked\0"                               // 128
    "Key was rejected by service\0"                        // 129
    "Owner died\0"                                         // 130
    "State not recoverable\0"                              // 131
    "Operation not possible due to RF-kill\0"              // 132
    "Memory page has hardware error\0";                    // 133
constexpr int kCount = 134;

}  // namespace

const char* SystemErrorText(int error, char (&out)[64]) noexcept {
  if (error >= 0 && error < kCount) {
    const char* text = kTexts;
    for (int i = 0; i < error; ++i) text += std::strlen(text) + 1;
    const std::size_t length = std::strlen(text);
    if (length > 0) {
      std::memcpy(out, text, length + 1);
      return out;
    }
  }
  constexpr char kUnknown[] = "Unknown error ";
  std::memcpy(out, kUnknown, sizeof kUnknown - 1);
  char* const end = std::to_chars(out + sizeof kUnknown - 1, out + sizeof out - 1, error).ptr;
  *end = '\0';
  return out;
}

}  // namespace launcher
