// Removing an installation from disk.
#pragma once

#include <string>

#include "types.h"

bool removeFiles(const std::string& installDir, const FileCollection& fc);
