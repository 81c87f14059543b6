// The embedded profile utility and its temporary copy in /tmp.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

extern const char QZPROFILE_TEXT[];  // setup/qzprofile.sh, embedded at build time

// Writes the utility text to an open stream, line by line.
void create_qzprofile(FILE* out);

extern char tmpfile_name[20];
extern int tmpfile_created;

int create_temp_qzprofile();
const char* give_temp_qzprofile_name();
int write_temp_qzprofile();
// The value the shared profile files hold, or null when they hold none or the query failed.
std::unique_ptr<std::string> get_env_var_from_temp_qzprofile(const char* name);
// Raw pclose status (0 success) or -1 when the utility could not be started.
int update_env_var_with_temp_qzprofile(const char* argument);
int delete_env_var_with_temp_qzprofile(const char* name);
int delete_temp_qzprofile();
