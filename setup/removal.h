// Removing an installation from disk.
#pragma once

#include <string>

#include "types.h"

bool removeFiles(const std::string& installDir, const FileCollection& fc);

enum LeftoverTree { NO_LEFTOVER_TREE, LEFTOVER_TREE_REMOVED, LEFTOVER_TREE_STAYS };
// A removal interrupted after its records went leaves the record directory, or what is left of the
// platform path above it, holding nothing but empty directories. Such a tree is removed with the
// empty directories above it, as a completed removal does; LEFTOVER_TREE_STAYS when a directory of it
// cannot be removed. NO_LEFTOVER_TREE when no part of the platform path is there, or it holds anything
// else: then it is not ours to delete.
LeftoverTree removeLeftoverTree(const std::string& installDir);
