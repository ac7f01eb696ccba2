// What Windows says about one of its error codes, for messages that name the
// failed file and the reason, as strerror() gives it elsewhere.
#pragma once

#ifdef _WIN32
#include <string>

namespace pictrove {

// The system's text in UTF-8, without its closing full stop and line break.
std::string windowsErrorText(unsigned long code);

}  // namespace pictrove
#endif
