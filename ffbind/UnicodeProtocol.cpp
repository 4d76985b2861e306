// The "unicode" protocol.
#include "UnicodeProtocol.h"

bool RegisterUnicodeProtocol() { return true; }
