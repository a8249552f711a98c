#include "platform/system_services.h"

FILE* TSystemServices::CreateFileBeside(const char*, std::string*) { return nullptr; }

bool TSystemServices::RenameIntoPlace(const char*, const char*) { return false; }

void TSystemServices::RemoveFile(const char*) {}

std::string TSystemServices::TextToUtf8(const char* text) { return text; }
