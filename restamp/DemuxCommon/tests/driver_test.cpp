// The command-line driver explains itself: usage on request, and every
// failure names the file (or argument) it concerns.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Result {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

Result RunDriver(const std::string& args) {
    Result r;
    const std::string cmd = std::string(RESTAMP_DRIVER) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    const int status = pclose(p);
    if (status != -1 && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    return r;
}

TEST(RestampDriver, ExplainsUsageAndNamesWhatFailed) {
    const std::string in = ::testing::TempDir() + "restamp_driver_in.bin";
    {
        std::ofstream f(in, std::ios::binary);
        std::vector<char> bytes(5500, 'x');
        f.write(bytes.data(), std::streamsize(bytes.size()));
        ASSERT_TRUE(f.good());
    }
    struct Case {
        std::string args;
        int exitCode;
        std::string says;
    };
    const Case cases[] = {
        {"--help", 0, "usage: restamp"},
        {"-h", 0, "usage: restamp"},
        {"--bogus " + in, 2, "unknown option '--bogus'"},
        {"", 2, "no input file"},
        {in + " out.bin extra", 2, "unexpected argument 'extra'"},
        {"/nonexistent/in.mpg", 1, "cannot open /nonexistent/in.mpg: No such file or directory"},
        {in + " /nonexistent/out.mpg", 1, "cannot create /nonexistent/out.mpg"},
        // A full disk: the output file is named, not a bare "I/O error".
        {in + " /dev/full", 1, "cannot write /dev/full: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = RunDriver(c.args);
        EXPECT_EQ(c.exitCode, r.exitCode);
        EXPECT_NE(std::string::npos, r.output.find(c.says)) << r.output;
    }
    std::remove(in.c_str());
}

}  // namespace
