#pragma once

#include <filesystem>
#include <string>

// A string of the file's version resource, read through the first
// translation only, trailing white space removed; empty when absent.
std::wstring readVersionString(const std::filesystem::path& path, const std::wstring& name);
