// The Windows library as the system sees it: its export table names exactly the eight entry
// points, undecorated (cdecl, as a module-definition file writes them), and nothing else.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

TEST(Library, ExportsExactlyTheEightEntryPoints) {
    // Mapped as an image only: nothing of it runs.
    HMODULE image = LoadLibraryExA(VEXAL_LOADER_LIBRARY, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << GetLastError();
    // The low bits of a handle mapped as an image resource mark it; the mapping starts there.
    const uint8_t* base = reinterpret_cast<const uint8_t*>(uintptr_t(image) & ~uintptr_t(3));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(entry.VirtualAddress, 0u);
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const DWORD* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::set<std::string> found;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        found.insert(reinterpret_cast<const char*>(base + names[i]));
    const std::set<std::string> expected = {"_VexalCreate", "_VexalDelete", "_VexalMessage", "_VexalProgress",
                                            "_VexalRender", "_VexalSetup", "_VexalStart", "_VexalUpdate"};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(exports->NumberOfFunctions, 8u);
    FreeLibrary(image);
}
