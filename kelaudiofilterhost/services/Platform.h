// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

namespace kelcore {

/// An opaque handle of a loaded shared library.
using ModuleHandle = void*;

namespace platform {
/// dlopen(RTLD_NOW | RTLD_LOCAL) of the UTF-16 path; null on failure, with the loader's text in errorText.
ModuleHandle LoadModule(const UTF16String& path, UTF8String& errorText);
/// dlclose; false (with errorText) when the loader refused.
bool UnloadModule(ModuleHandle module, UTF8String& errorText);
/// Keeps a library that is loaded now mapped until the process exits, whatever dlclose calls follow:
/// threads it started may still run its code. False (with errorText) when it is not loaded.
bool KeepModuleMapped(const UTF16String& path, UTF8String& errorText);
/// Path of the running executable; empty when it cannot be read.
UTF16String GetExecutablePath();
} // namespace platform

/// The address of an exported symbol; null when the module or the symbol is absent.
void* GetFunctionPointerFromModuleImpl(ModuleHandle module, const char* name);

/// Typed form: GetFunctionPointerFromModule<EntryProc>(module, "VSTPluginMain").
template <typename Function> Function GetFunctionPointerFromModule(ModuleHandle module, const char* name)
{
    return reinterpret_cast<Function>(GetFunctionPointerFromModuleImpl(module, name));
}

} // namespace kelcore
