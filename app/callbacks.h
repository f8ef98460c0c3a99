#pragma once

#include <functional>
#include <string>

// Callbacks that the update run hands to the update service and to the
// installer launch. An empty one is skipped by the receiver.

// A status text for the user.
using StatusCallback = std::function<void(std::wstring)>;
// True once the user asked to stop.
using CancelQuery = std::function<bool()>;
// The last call before the installer starts; may throw to prevent the start.
using BeforeInstallHook = std::function<void()>;
