// Environment variables set and cleared from tests, the same way on every platform.
#pragma once

#include <cstdlib>

// The variable that names the user's profile folder to the engine.
#ifdef _WIN32
constexpr const char* kProfileVariable = "USERPROFILE";
#else
constexpr const char* kProfileVariable = "HOME";
#endif

// Sets the variable for this process (and the programs it starts).
inline void SetTestEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

// Removes the variable from this process's environment.
inline void UnsetTestEnvironment(const char* name) {
#ifdef _WIN32
    _putenv_s(name, ""); // an empty value removes it on Windows
#else
    unsetenv(name);
#endif
}
