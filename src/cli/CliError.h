#pragma once

// How a command of decimora-cli fails: CliError ends it with exit code 1 and its text as the one line
// on the error output; UsageError with exit code 2, the text and a usage line.

#include "core/DecimoraError.h"

class CliError : public DecimoraError {
public:
    using DecimoraError::DecimoraError;
};

class UsageError : public CliError {
public:
    using CliError::CliError;
};
