#include "ShellTestSupport.h"

#include <gtest/gtest.h>

std::shared_ptr<RecordingCloud> RecordingCloud::shared()
{
    static const auto cloud = std::make_shared<RecordingCloud>();
    return cloud;
}

namespace {

// Before any test makes the shared Core, its cloud becomes the recorder.
class RecordingCloudEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        Core::Configuration configuration;
        configuration.makeAppleCloud = [] { return std::static_pointer_cast<AppleCloud>(RecordingCloud::shared()); };
        Core::configure(std::move(configuration));
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new RecordingCloudEnvironment);

} // namespace
