#pragma once

#include <functional>
#include <string>

// Callbacks that the update run hands to the update service and to the
// installer launch. An empty one is skipped by the receiver.
using StatusCallback = std::function<void(std::wstring)>;  // a status text for the user
using CancelQuery = std::function<bool()>;                 // true once the user asked to stop
using BeforeInstallHook = std::function<void()>;           // last call before the installer starts; may throw
