#include "platform/system_services.h"

std::string TSystemServices::TextToUtf8(const char* text) { return text; }
