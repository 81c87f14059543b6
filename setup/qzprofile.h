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
// The same answer, from the utility's text run by /bin/sh straight from memory: no file is written.
std::unique_ptr<std::string> query_shared_profile_from_memory(const char* name);
// Raw pclose status (0 success) or -1 when the utility could not be started.
int update_env_var_with_temp_qzprofile(const char* argument);
int delete_env_var_with_temp_qzprofile(const char* name);
int delete_temp_qzprofile();

// The shell command lines run against the temporary copy named utility.
std::string qzprofile_query_command(const char* utility, const char* name);
// argument is NAME "value"; inside its outer double quotes a '"', '$', '`' or '\'
// gets a backslash, so the utility receives the value unchanged. The
// Update_Profile digit comes from this process's environment.
std::string qzprofile_set_command(const char* utility, const char* argument);
std::string qzprofile_delete_command(const char* utility, const char* name);
