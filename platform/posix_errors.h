// The one table that turns an errno value into the Win32 error number the
// same failure gives on Windows (posix_errors.cpp).
#ifndef PLATFORM_POSIX_ERRORS_H
#define PLATFORM_POSIX_ERRORS_H

// Returns the Win32 error number for `err`, ERROR_GEN_FAILURE for a value
// the table does not list. `path`, when given, tells ENOENT on a missing
// folder of the path (ERROR_PATH_NOT_FOUND) from a missing last component
// (ERROR_FILE_NOT_FOUND), at the cost of a stat of the folder.
unsigned MapErrno(int err, const char* path);

#endif  // PLATFORM_POSIX_ERRORS_H
