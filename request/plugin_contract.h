// The contract between the host and a plugin library: entry point names, signatures and rules.
//
// A plugin is a shared library that exports three functions with C linkage and these exact,
// undecorated names. The host handles one request like this, and only like this:
//
//   1. It loads the library. Each request loads it afresh and unloads it at the end, so nothing the
//      plugin keeps in memory (globals, statics, threads' state) survives from one request to the
//      next; a plugin that needs state must keep it outside the process.
//   2. It looks up all three entry points. If any is missing, it calls none of them, unloads the
//      library and reports status 4.
//   3. Initialize(text): text is a copy of the request's message text. The result is ignored, and a
//      failing Initialize does not stop the request.
//   4. RequestService(text): text is the request's message text, in and out. The plugin replaces
//      it with its reply in the same message text format (name@@@KEY=value@@@KEY=value; see
//      request/plugin_request.h), of any length. Its int result becomes the request's status,
//      which the host passes on without interpreting it. Returning 1 to 4 is allowed but cannot be
//      told from the host's own failures (1 empty request name, 2 load failed, 3 no plugin path,
//      4 entry point missing).
//   5. Release(text): text is a copy of the reply as RequestService left it. The result is ignored.
//   6. It unloads the library. The host has copied the reply beforehand and keeps nothing else the
//      plugin made.
//
// Each call happens once per request, in this order, on the host's one thread.
//
// Texts are std::u16string (UTF-16 code units). Host and plugin share the C++ standard library:
// the in-out text is allocated by one side and freed by the other, and by-value copies belong to
// the called function. Entry points must not let an exception escape.
//
// What must match between host and plugin, because a std::u16string crosses the boundary as an
// object: the standard library (the host uses libstdc++ on Linux and, statically linked, with
// MinGW-w64 on Windows; libc++ or MSVC's library lay strings out differently), its string layout
// (libstdc++'s _GLIBCXX_USE_CXX11_ABI, 1 for the current layout, 0 for the old one) and the heap
// the text is allocated from (on Windows, the same C runtime DLL as MinGW-w64's host). A plugin
// built against another layout crashes the host at its first call. The CMake targets of this
// header carry the host's choice: DHCP_HOST_LIBSTDCXX_STRING_ABI (and _GLIBCXX_USE_CXX11_ABI set
// to the same value); with them, a plugin built for another layout or standard library stops at
// compile time here.
#pragma once

#include <string>

#if defined(DHCP_HOST_LIBSTDCXX_STRING_ABI)
#if !defined(__GLIBCXX__)
#error "The host passes std::u16string built with libstdc++: build the plugin with libstdc++ too."
#elif _GLIBCXX_USE_CXX11_ABI != DHCP_HOST_LIBSTDCXX_STRING_ABI
#error "The plugin's _GLIBCXX_USE_CXX11_ABI differs from the host's: leave it to the SDK target."
#endif
#endif

#if defined(_WIN32)
#define DHCP_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define DHCP_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The exact names the host looks up.
inline constexpr char kInitializeEntry[] = "Initialize";
inline constexpr char kRequestServiceEntry[] = "RequestService";
inline constexpr char kReleaseEntry[] = "Release";

// int Initialize(std::u16string text): called before RequestService with a copy of the request.
using PluginInitializeFn = int (*)(std::u16string text);
// int RequestService(std::u16string& text): turns the request into the reply; returns the status.
using PluginRequestServiceFn = int (*)(std::u16string& text);
// int Release(std::u16string text): called after the reply was taken, with a copy of it.
using PluginReleaseFn = int (*)(std::u16string text);
