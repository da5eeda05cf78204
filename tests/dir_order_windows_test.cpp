#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform.h"

namespace murako {
namespace {

// The directory list shows subdirectories as Explorer does: without regard to case, numbers by their value,
// and files left out.
TEST(ListSubdirectories, OrdersAsExplorerDoes)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "murako-test-dir-order";
    std::filesystem::remove_all(dir);
    for (const char* name : {"deep", "B", "x10", "My Documents", "2004", "a", "x9", "Zeta", "300"})
        std::filesystem::create_directories(dir / name);
    std::filesystem::create_directories(dir / "a" / "below");
    std::ofstream(dir / "c.txt") << "a file";

    std::vector<std::string> names;
    ASSERT_TRUE(ListSubdirectories(dir.string(), names));
    EXPECT_EQ(names, (std::vector<std::string>{"300", "2004", "a", "B", "deep", "My Documents", "x9", "x10", "Zeta"}));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace murako
