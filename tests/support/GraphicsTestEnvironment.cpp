// Keeps the image library running for a whole test executable, as the
// process's static initialisation does for the plug-in. Every test that makes
// Graphics objects links kestrel_graphics_test_environment (tests/support).
#include <gtest/gtest.h>

#include <memory>

#include "graphics/GraphicsSession.h"

namespace {

class GraphicsTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_session = std::make_unique<GraphicsSession>(); }
    void TearDown() override { m_session.reset(); }

private:
    std::unique_ptr<GraphicsSession> m_session;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GraphicsTestEnvironment);

}  // namespace
