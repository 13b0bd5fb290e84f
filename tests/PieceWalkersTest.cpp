#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "scan/PieceWalkers.h"

namespace orv {
namespace {

// Squares each piece's index, taking longer on some pieces so that the threads finish out of order;
// piece `failing` throws.
struct Squares
{
    struct Findings
    {
        std::int64_t value = -1;
    };
    std::int64_t failing = -1;

    void examine(std::int64_t index, Findings& out)
    {
        out.value = -1;
        if (index == failing)
            throw std::runtime_error("unreadable piece");
        if (index % 3 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        out.value = index * index;
    }
};

// Findings come in piece order whatever the threads did, with threads or without.
TEST(PieceWalkers, GiveEveryPieceInOrder)
{
    for (const auto& [pieces, threads] : {std::pair<std::int64_t, bool>{0, true}, {1, true}, {40, true}, {40, false}}) {
        PieceWalkers<Squares> walkers([] { return std::make_unique<Squares>(); }, pieces, threads);
        for (std::int64_t i = 0; i < pieces; ++i) {
            Squares::Findings* found = nullptr;
            while (!(found = walkers.next(i))) {}
            EXPECT_EQ(found->value, i * i) << pieces << " pieces, threads " << threads;
            walkers.done(i);
        }
    }
}

// A piece that could not be examined throws where the caller takes it; a caller that stops early
// (a stopped scan) leaves the walkers without waiting for the pieces nobody takes.
TEST(PieceWalkers, RethrowAtThePieceAndStopEarly)
{
    PieceWalkers<Squares> walkers([] { return std::make_unique<Squares>(Squares{5}); }, 1000, true);
    for (std::int64_t i = 0; i < 5; ++i) {
        Squares::Findings* found = nullptr;
        while (!(found = walkers.next(i))) {}
        EXPECT_EQ(found->value, i * i);
        walkers.done(i);
    }
    EXPECT_THROW(while (!walkers.next(5)){}, std::runtime_error);
}

} // namespace
} // namespace orv
