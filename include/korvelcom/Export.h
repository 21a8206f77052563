// KORVELCOM_API marks what the korvelcom library exports: the public classes and functions of
// these headers.  The library is built with hidden symbols, so nothing else is reachable from
// a shared build.  A static build (and everything that uses it) defines KORVELCOM_STATIC; the
// shared library's own build defines KORVELCOM_BUILDING.  Installed CMake targets and
// korvelcom.pc set the right one for their consumers.
#pragma once

#if defined(KORVELCOM_STATIC)
#define KORVELCOM_API
#elif defined(_WIN32)
#if defined(KORVELCOM_BUILDING)
#define KORVELCOM_API __declspec(dllexport)
#else
#define KORVELCOM_API __declspec(dllimport)
#endif
#else
#define KORVELCOM_API __attribute__((visibility("default")))
#endif
