// The file-descriptor owner: closes exactly once, hands over on a move, gives up on release.
#include "util/UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

bool isOpen(int fd)
{
    return fd >= 0 && ::fcntl(fd, F_GETFD) != -1;
}

int openNull()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

TEST(UniqueFd, ClosesWhenItGoes)
{
    int raw = -1;
    {
        UniqueFd fd(openNull());
        raw = fd.get();
        ASSERT_TRUE(isOpen(raw));
        EXPECT_TRUE(fd.valid());
    }
    EXPECT_FALSE(isOpen(raw));
}

TEST(UniqueFd, AnEmptyOwnerClosesNothing)
{
    UniqueFd empty;
    EXPECT_FALSE(empty.valid());
    EXPECT_FALSE(bool(empty));
    EXPECT_EQ(empty.get(), -1);
    empty.reset();
    EXPECT_EQ(empty.get(), -1);
}

TEST(UniqueFd, AMoveHandsTheDescriptorOverAndClosesItOnce)
{
    UniqueFd a(openNull());
    const int raw = a.get();
    UniqueFd b(std::move(a));
    EXPECT_EQ(a.get(), -1);
    EXPECT_EQ(b.get(), raw);
    EXPECT_TRUE(isOpen(raw));

    // Assigning over an owner closes what it held before.
    UniqueFd c(openNull());
    const int other = c.get();
    c = std::move(b);
    EXPECT_FALSE(isOpen(other));
    EXPECT_EQ(c.get(), raw);
    EXPECT_TRUE(isOpen(raw));

    // In a growing vector the descriptors move with their owners and stay open.
    std::vector<UniqueFd> many;
    many.push_back(std::move(c));
    for (int i = 0; i < 20; ++i)
        many.emplace_back(openNull());
    EXPECT_EQ(many.front().get(), raw);
    EXPECT_TRUE(isOpen(raw));
    std::vector<int> raws;
    for (const UniqueFd &fd : many)
        raws.push_back(fd.get());
    many.clear();
    for (int fd : raws)
        EXPECT_FALSE(isOpen(fd)) << fd;
}

TEST(UniqueFd, SelfMoveKeepsTheDescriptor)
{
    UniqueFd a(openNull());
    const int raw = a.get();
    UniqueFd &same = a;
    a = std::move(same);
    EXPECT_EQ(a.get(), raw);
    EXPECT_TRUE(isOpen(raw));
}

TEST(UniqueFd, ReleaseGivesUpWithoutClosingAndResetCloses)
{
    UniqueFd a(openNull());
    const int raw = a.release();
    EXPECT_EQ(a.get(), -1);
    EXPECT_TRUE(isOpen(raw));
    a.reset(raw);
    EXPECT_EQ(a.get(), raw);
    a.reset();
    EXPECT_FALSE(isOpen(raw));
}
