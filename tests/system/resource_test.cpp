// The application manifest, read back from the built executable.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/updater.h"

namespace {

std::vector<std::wstring> found_types;
std::vector<std::wstring> found_names;

std::wstring ResourceId(LPCWSTR id) {
  return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id)) : std::wstring(id);
}

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR) {
  found_types.push_back(ResourceId(type));
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR) {
  found_names.push_back(ResourceId(name));
  return TRUE;
}

// The value of attribute in the first element named element, or "<none>".
std::string Attribute(const std::string& xml, const std::string& element, const std::string& attribute,
                      size_t from = 0) {
  size_t start = xml.find("<" + element, from);
  if (start == std::string::npos) return "<none>";
  size_t end = xml.find('>', start);
  std::string tag = xml.substr(start, end - start);
  size_t at = tag.find(" " + attribute + "=\"");
  if (at == std::string::npos) return "<none>";
  at += attribute.size() + 3;
  return tag.substr(at, tag.find('"', at) - at);
}

TEST(Resources, OnlyTheApplicationManifest) {
  for (const std::wstring& exe : {ShippedUpdaterExe(), TestUpdaterExe()}) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << Utf8(exe);
    found_types.clear();
    found_names.clear();
    EnumResourceTypesW(module, CollectType, 0);
    EnumResourceNamesW(module, RT_MANIFEST, CollectName, 0);
    EXPECT_EQ(found_types, std::vector<std::wstring>{L"#24"}) << "no icon, version, dialog or string table";
    EXPECT_EQ(found_names, std::vector<std::wstring>{L"#1"});

    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(resource, nullptr);
    HGLOBAL loaded = LoadResource(module, resource);
    std::string xml(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, resource));
    FreeLibrary(module);

    size_t dependency = xml.find("<dependentAssembly");
    ASSERT_NE(dependency, std::string::npos);
    struct {
      const char* element;
      const char* attribute;
      const char* value;
      size_t from;
    } const expected[] = {
        {"assemblyIdentity", "name", "Quenfar8.Updater", 0},
        {"assemblyIdentity", "version", "1.0.0.0", 0},
        {"assemblyIdentity", "processorArchitecture", "x86", 0},
        {"assemblyIdentity", "type", "win32", 0},
        {"requestedExecutionLevel", "level", "asInvoker", 0},
        {"requestedExecutionLevel", "uiAccess", "false", 0},
        {"assemblyIdentity", "name", "Microsoft.Windows.Common-Controls", dependency},
        {"assemblyIdentity", "version", "6.0.0.0", dependency},
        {"assemblyIdentity", "type", "win32", dependency},
        {"assemblyIdentity", "processorArchitecture", "x86", dependency},
        {"assemblyIdentity", "publicKeyToken", "6595b64144ccf1df", dependency},
        {"assemblyIdentity", "language", "*", dependency},
    };
    for (const auto& e : expected) {
      EXPECT_EQ(Attribute(xml, e.element, e.attribute, e.from), e.value) << e.element << " " << e.attribute;
    }
    // The first identity is the program's own: it comes before the dependency.
    EXPECT_LT(xml.find("<assemblyIdentity"), dependency);
  }
}

}  // namespace
