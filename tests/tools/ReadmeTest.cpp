// The README as users read it, held against the code: its launch-parameter table names exactly
// the parameters the loader acts on (and vexal-host knows them all), and each tool's section
// names every option of the tool's usage text and no option the tool lacks.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

namespace {

std::string SourceDir() {
    const std::string runDemo = VEXAL_RUN_DEMO;
    return runDemo.substr(0, runDemo.size() - std::string("/tools/demo/run-demo").size());
}

// The part of the README under the heading (up to the next heading of the same or a higher level).
std::string Section(const std::string& readme, const std::string& heading) {
    const size_t start = readme.find("\n" + heading + "\n");
    if (start == std::string::npos) return "";
    const std::string level = heading.substr(0, heading.find(' ') + 1);
    size_t end = start + heading.size() + 2;
    for (;;) {
        end = readme.find("\n#", end);
        if (end == std::string::npos) break;
        const size_t hashes = readme.find_first_not_of('#', end + 1) - (end + 1);
        if (hashes <= level.size() - 1 && readme[end + 1 + hashes] == ' ') break;
        ++end;
    }
    return readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The backticked names at the start of a table's rows: "| `a`, `b` | ..." gives a and b.
std::set<std::string> FirstColumnNames(const std::string& text, const std::string& pattern) {
    std::set<std::string> names;
    const std::regex row(R"((^|\n)\| ([^|\n]*) \|)"), name("`(" + pattern + ")[^`]*`");
    for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end; ++it) {
        const std::string cell = (*it)[2];
        for (std::sregex_iterator n(cell.begin(), cell.end(), name); n != end; ++n) names.insert((*n)[1]);
    }
    return names;
}

std::string Listed(const std::set<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

TEST(Readme, LaunchParameterTableNamesWhatTheLoaderAndVexalHostKnow) {
    const std::string source = SourceDir();
    const std::string readme = ReadNativeFile(source + "/README.md");
    std::set<std::string> documented = FirstColumnNames(Section(readme, "## Launch parameters"), "[a-z]+");
    ASSERT_GE(documented.size(), 15u) << Listed(documented);
    // Every name the loader's Setup compares with, and the one its screen takes, is documented.
    std::set<std::string> compared;
    const std::regex comparison(R"re(Is\(name, u"([a-z]+)"\))re"), screenName(R"re(kLoaderVar = u"([a-z]+)")re");
    for (const std::string& file : {source + "/loader/LaunchParameters.cpp", source + "/screens/ScreenTexts.h"}) {
        const std::string text = ReadNativeFile(file);
        ASSERT_FALSE(text.empty()) << file;
        for (const std::regex& pattern : {comparison, screenName})
            for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
                compared.insert((*it)[1]);
    }
    for (const std::string& name : compared)
        EXPECT_TRUE(documented.count(name)) << "the README's table lacks " << name << ", which the loader takes";

    // And every documented name is one the loader takes (it logs the names it ignores) and
    // vexal-host knows (it warns about the others).
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.IsValid());
    std::string command = "cd '" + scratch.Native("") + "' && env HOME='" + scratch.Native("") +
                          "' '[VEXAL-DEBUG]=YES' '" VEXAL_BINARY_DIR "/bin/vexal-host' --headless --seconds 0.01";
    for (const std::string& name : documented) command += " " + name + "=";
    CommandRun run = RunCommand(command + " 2>&1");
    EXPECT_NE(run.mOutput.find("[Loader]"), std::string::npos) << "no trace on the console: " << run.mOutput;
    EXPECT_EQ(run.mOutput.find("Unknown launch parameter ignored"), std::string::npos) << run.mOutput;
    EXPECT_EQ(run.mOutput.find("knows no launch parameter"), std::string::npos) << run.mOutput;
}

TEST(Readme, EachToolsSectionNamesEveryOptionOfItsUsageAndNoOther) {
    const std::string readme = ReadNativeFile(SourceDir() + "/README.md");
    const std::regex option(R"((^|[\s\[(|,`])(--[a-z][a-z0-9-]*))");
    const std::pair<const char*, const char*> sections[] = {
        {"host", "## Host program (vexal-host)"},
        {"pack", "## Packages"},
        {"screen", "### Previewing a loading screen"},
        {"regex", "## Checking server data (vexal-regex)"},
        {"ticks", "## The loading funnel from access logs (vexal-ticks)"},
    };
    for (const auto& [tool, heading] : sections) {
        const std::string section = Section(readme, heading);
        ASSERT_FALSE(section.empty()) << heading;
        CommandRun usage = RunCommand(std::string("'" VEXAL_BINARY_DIR "/bin/vexal-") + tool + "' --help 2>/dev/null",
                                      ErrorOutput::Separate);
        ASSERT_EQ(usage.mStatus, 0) << tool;
        std::set<std::string> offered, named;
        for (std::sregex_iterator it(usage.mOutput.begin(), usage.mOutput.end(), option), end; it != end; ++it)
            offered.insert((*it)[2]);
        for (std::sregex_iterator it(section.begin(), section.end(), option), end; it != end; ++it)
            named.insert((*it)[2]);
        offered.erase("--help");
        named.erase("--help");
        for (const std::string& name : offered)
            EXPECT_TRUE(named.count(name)) << heading << " does not name " << name << " of vexal-" << tool;
        // Options in the section's option tables (a first column of options) must exist.
        for (const std::string& name : FirstColumnNames(section, "--[a-z][a-z0-9-]*"))
            EXPECT_TRUE(offered.count(name)) << heading << " names " << name << ", which vexal-" << tool << " lacks";
    }
}

} // namespace
