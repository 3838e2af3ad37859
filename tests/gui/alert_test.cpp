// The completion alert's vibrator: the LED class device is switched on and
// off again, and a close ends a long vibration at once.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "gui/completion_alert.h"
#include "platform/file.h"
#include "settings/app_context.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

class AlertTest : public ::testing::Test {
  protected:
    AlertTest() : ctx(DataRoot{dir.Path(), dir.Path() + "vardane"}) {
        ledRoot = dir.Path() + "leds/";
        EXPECT_TRUE(MakeDirectories(ledRoot + "gpio-vibrator/"));
        std::ofstream(ledRoot + "gpio-vibrator/brightness") << "0\n";
        ctx.settings.Vibrative = true;
        ctx.settings.PlaySound = false;
        ctx.settings.ScreenNotify = false;
    }
    std::string Brightness() {
        std::ifstream in(ledRoot + "gpio-vibrator/brightness");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempDir dir;
    AppContext ctx;
    std::string ledRoot;
};

TEST_F(AlertTest, VibratorGoesOffAgainAndAClosingEndsItEarly) {
    EXPECT_EQ(gui::FindVibratorLed(ledRoot), ledRoot + "gpio-vibrator");
    EXPECT_EQ(gui::FindVibratorLed(dir.Path() + "none/"), "");

    gui::CompletionAlerter alert(ctx, ledRoot);
    ctx.settings.AlarmSec = 0;
    alert.Raise("a.bin");
    alert.Shutdown();
    EXPECT_EQ(Brightness(), "0\n");

    // A vibration of 99 s ends as soon as the program closes.
    ctx.settings.AlarmSec = 99;
    alert.Raise("b.bin");
    ctx.Closing = true;
    alert.Shutdown();
    EXPECT_EQ(Brightness(), "0\n");
}

TEST_F(AlertTest, DesignedSoundPathMeansTheShippedSound) {
    const std::string exeDir = dir.Path() + "bin/";
    ASSERT_TRUE(MakeDirectories(exeDir + "sounds/"));
    std::ofstream(exeDir + "sounds/complete.wav") << "RIFF";
    EXPECT_EQ(gui::SoundFileToPlay("\\Windows\\Alarm1.wav", exeDir),
              exeDir + "sounds/complete.wav");
    EXPECT_EQ(gui::SoundFileToPlay("", exeDir), exeDir + "sounds/complete.wav");
    EXPECT_EQ(gui::SoundFileToPlay("/home/u/ding.wav", exeDir), "/home/u/ding.wav");
}

}  // namespace
}  // namespace vardane::test
