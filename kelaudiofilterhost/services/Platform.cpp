// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Platform.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <filesystem>
#include <system_error>

#include <dlfcn.h>

namespace kelcore {

namespace {

UTF8String TakeLoaderError(const char* fallback)
{
    const char* text = ::dlerror();
    return text != nullptr ? UTF8String(text) : UTF8String(fallback);
}

} // namespace

namespace platform {

ModuleHandle LoadModule(const UTF16String& path, UTF8String& errorText)
{
    // dlopen(nullptr) or "" would hand back the running program itself.
    if (path.empty()) {
        errorText = "empty module path";
        KAFH_TRACE("kelcore::platform::LoadModule", 5, errorText);
        return nullptr;
    }
    const UTF8String path8 = UTF16to8(path);
    ::dlerror();
    // Never RTLD_DEEPBIND: it breaks the sanitizers' interposition of allocation functions.
    ModuleHandle module = ::dlopen(path8.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        errorText = TakeLoaderError("dlopen failed");
        KAFH_TRACE("kelcore::platform::LoadModule", 5, "\"" << path8 << "\": " << errorText);
        return nullptr;
    }
    errorText.clear();
    return module;
}

bool UnloadModule(ModuleHandle module, UTF8String& errorText)
{
    if (module == nullptr) {
        errorText = "null module handle";
        return false;
    }
    ::dlerror();
    if (::dlclose(module) != 0) {
        errorText = TakeLoaderError("dlclose failed");
        KAFH_TRACE("kelcore::platform::UnloadModule", 5, errorText);
        return false;
    }
    errorText.clear();
    return true;
}

bool KeepModuleMapped(const UTF16String& path, UTF8String& errorText)
{
    if (path.empty()) {
        errorText = "empty module path";
        return false;
    }
    const UTF8String path8 = UTF16to8(path);
    ::dlerror();
    // RTLD_NOLOAD only finds the library already loaded; RTLD_NODELETE then stays with it for good,
    // so dropping this handle (and every other) leaves it mapped.
    ModuleHandle module = ::dlopen(path8.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD | RTLD_NODELETE);
    if (module == nullptr) {
        errorText = TakeLoaderError("not loaded");
        KAFH_TRACE("kelcore::platform::KeepModuleMapped", 5, "\"" << path8 << "\": " << errorText);
        return false;
    }
    ::dlclose(module);
    errorText.clear();
    return true;
}

UTF16String GetExecutablePath()
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        KAFH_TRACE("kelcore::platform::GetExecutablePath", 5, "/proc/self/exe: " << error.message());
        return {};
    }
    return UTF8to16(path.native());
}

} // namespace platform

void* GetFunctionPointerFromModuleImpl(ModuleHandle module, const char* name)
{
    // A null handle would mean RTLD_DEFAULT: a search of every loaded library, not of the module.
    if (module == nullptr || name == nullptr || *name == '\0') {
        return nullptr;
    }
    ::dlerror();
    return ::dlsym(module, name);
}

} // namespace kelcore
