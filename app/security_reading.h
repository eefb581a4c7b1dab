#pragma once
// Owners and access lists read from the system into the plain values of
// app/access_list.h, where the decisions over them are made and tested.
#include "app/access_list.h"

namespace sv {

// A security descriptor in memory (PSECURITY_DESCRIPTOR): its owner (empty when it has
// none) and its list. False when the descriptor cannot be read.
bool ReadObjectSecurity(const void* descriptor, ObjectSecurity& security);

// An SDDL text as the system parses it: the very values a list given at creation
// would be read back as.
bool ReadSddlSecurity(const wchar_t* sddl, ObjectSecurity& security);

// Through an open handle (opened with READ_CONTROL).
bool ReadHandleSecurity(void* handle, ObjectSecurity& security);

// A file or folder by its path (UTF-8); a link is followed to what it names, which is
// what a program started through it runs or reads.
bool ReadPathSecurity(const std::string& path, ObjectSecurity& security);

// "DOMAIN\name" for an SID, for a line a person reads; the SID itself when it names no
// account this computer knows.
std::string AccountName(const std::string& sid);

}  // namespace sv
