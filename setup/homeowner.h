// Acting on a file in a user's directory (their $HOME/.profile) with that user's rights.
#pragma once

#include <functional>
#include <string>

// Runs action with the file-system identity (user, group and groups) of the user who controls dir:
// the owner of dir, or else the first user who owns a directory or link on the way to it, since they
// could point the rest of the way anywhere. Root's rights then never reach what that user could not
// reach. Runs action unchanged when dir is root's, or when this process is not root. False, with a
// message, when the identity cannot be taken; the action is then not run.
bool asOwnerOf(const std::string& dir, const std::function<bool()>& action);
