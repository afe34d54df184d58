#include "MainTick.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

using namespace vorlund;

TEST(MainTickSmoke, Builds)
{
    test::ServerFixture f;
    MainTick tick(f.context, f.topics, f.topics, f.topics, f.topics, f.topics, f.topics, f.topics,
                  f.topics);
    tick.OnMainTick();
}
