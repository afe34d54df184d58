// Mendrel: repairs an AVI recording left damaged by an interrupted capture.
//   Mendrel --repair DAMAGED GOOD
// prints the status lines to stdout, a failure's message to stderr, and exits with 0 when the
// file was repaired, 1 when it was not, 2 on bad usage.
#include "AviRepair.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage()
{
    std::fputs("usage: Mendrel --repair DAMAGED.avi GOOD.avi\n", stderr);
    return 2;
}

int RunRepair(const std::string &damagedArg, const std::string &goodArg)
{
    const std::string damaged = mendrel::WithAviExtension(damagedArg);
    const std::string good = mendrel::WithAviExtension(goodArg);
    auto print = [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    };
    print(mendrel::kReady);
    switch (mendrel::CheckDamagedFile(damaged)) {
    case mendrel::EntryCheck::CantOpen:
        std::fprintf(stderr, "%s\n", std::string(mendrel::kCantOpenDamaged).c_str());
        return 1;
    case mendrel::EntryCheck::NoVideo:
        std::fprintf(stderr, "%s\n", std::string(mendrel::kNoVideo).c_str());
        return 1;
    case mendrel::EntryCheck::Ok:
        break;
    }
    const mendrel::RepairOutcome out = mendrel::RepairAviFile(damaged, good, print);
    if (out.status != mendrel::RepairStatus::Repaired) {
        std::fprintf(stderr, "%s\n", out.message.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int MendrelRepairMain(int argc, char **argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--repair") != 0)
        return Usage();
    return RunRepair(argv[2], argv[3]);
}
