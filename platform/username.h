#pragma once

#include <QString>
#include <optional>

// The name of the account the program runs as (on POSIX systems the account
// of the effective user ID). Nothing when the system cannot tell.
std::optional<QString> loggedInUserName();
