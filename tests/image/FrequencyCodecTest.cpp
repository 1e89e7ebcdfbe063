#include "image/FrequencyCodec.h"

#include <gtest/gtest.h>

namespace tuva {
namespace {

// What the window does at its first refill: band from byte 11, then the readouts.
PllReadout Refill(const ConfigImage& image, PllState& state) {
  SelectStoredBand(image, state);
  return RefreshPll(image, state);
}

TEST(FrequencyCodec, StartupImageReadsAsBandThree) {
  const ConfigImage image = ConfigImage::StartupImage();
  PllState state;
  const PllReadout readout = Refill(image, state);
  ASSERT_EQ(state.band, 3);
  EXPECT_EQ(kBands[3].text, "400-499MHz(12.5K)");
  EXPECT_EQ(state.mult, 3);
  EXPECT_EQ(state.channelStep, 12500u);
  EXPECT_EQ(readout.pllr, "000300");
  EXPECT_EQ(readout.plln, "0044D800");
  EXPECT_EQ(readout.mult, "3");
  EXPECT_EQ(readout.channel, "12.5KHz");
  EXPECT_EQ(readout.frequency, "4620000");
  EXPECT_EQ(ReadPolarity(image), Polarity::Normal);
}

TEST(FrequencyCodec, EveryBandDefaultGivesItsReadouts) {
  struct Expected {
    const char* channel;
    const char* frequency;
  };
  const Expected expected[kBandCount] = {{"5KHz", "1590000"},
                                         {"6.25KHz", "1590125"},
                                         {"9.375KHz", "2780125"},
                                         {"12.5KHz", "4620000"},
                                         {"12.5KHz", "9310125"}};
  for (int band = 0; band < kBandCount; ++band) {
    ConfigImage image = ConfigImage::StartupImage();
    PllState state;
    Refill(image, state);
    ApplyBand(image, state, band);
    EXPECT_EQ(image.byte(11), band);
    EXPECT_EQ(image.byte(15), 0x11);
    const PllReadout readout = RefreshPll(image, state);
    EXPECT_EQ(readout.channel, expected[band].channel) << band;
    EXPECT_EQ(readout.frequency, expected[band].frequency) << band;
    EXPECT_EQ(state.mult, kBands[band].mult) << band;
  }
  // A band past the table is the caller's mistake: refused, nothing written.
  ConfigImage image = ConfigImage::StartupImage();
  PllState state;
  Refill(image, state);
  const ConfigImage before = image;
  EXPECT_THROW(ApplyBand(image, state, kBandCount), std::out_of_range);
  EXPECT_EQ(image, before);
  EXPECT_EQ(state.band, 3);
  EXPECT_EQ(ChannelText(1), "0.001KHz");
  EXPECT_EQ(ChannelText(25000), "25KHz");
}

TEST(FrequencyCodec, TypedFrequencyMustLieInTheBandAndOnTheRaster) {
  ConfigImage image = ConfigImage::StartupImage();
  PllState state;
  Refill(image, state);

  FrequencyResult result = ApplyFrequencyText(image, state, "4620125");
  ASSERT_EQ(result.status, FrequencyStatus::Stored) << result.message;
  EXPECT_EQ(ReadPlln(image), 0x0044D880u);
  EXPECT_EQ(ReadPllr(image), 0x000300u);
  EXPECT_EQ(RefreshPll(image, state).frequency, "4620125");

  const ConfigImage before = image;
  result = ApplyFrequencyText(image, state, "4620100");
  EXPECT_EQ(result.status, FrequencyStatus::Refused);
  EXPECT_EQ(result.message, "Channel Spacing Error!");
  result = ApplyFrequencyText(image, state, "3999999");
  EXPECT_EQ(result.message, "Frequency setting error( 4000000 < = Frequency < = 4990000 )");
  EXPECT_EQ(ApplyFrequencyText(image, state, "4990001").message, result.message);
  EXPECT_EQ(ApplyFrequencyText(image, state, "99999999999999999999999").message, result.message);
  EXPECT_EQ(ApplyFrequencyText(image, state, "").status, FrequencyStatus::Empty);
  EXPECT_EQ(image, before);

  // Band 2: the raster is 9375 Hz from the 21.4 MHz IF.
  ApplyBand(image, state, 2);
  RefreshPll(image, state);
  EXPECT_EQ(ApplyFrequencyText(image, state, "2780125").status, FrequencyStatus::Stored);
  EXPECT_EQ(ApplyFrequencyText(image, state, "2780500").status, FrequencyStatus::Stored);
  EXPECT_EQ(ReadPlln(image), (27372u + 4) * 128);  // 375 units of 100 Hz are four steps
  EXPECT_EQ(ApplyFrequencyText(image, state, "2780219").message, "Channel Spacing Error!");
  EXPECT_EQ(ApplyFrequencyText(image, state, "2900001").message,
            "Frequency setting error( 2780000 < = Frequency < = 2900000 )");
}

TEST(FrequencyCodec, TextsThatAreNotWholeNumbersAreRefusedWithAMessage) {
  ConfigImage image = ConfigImage::StartupImage();
  PllState state;
  Refill(image, state);
  const ConfigImage before = image;
  EXPECT_EQ(ApplyFrequencyText(image, state, "462.0125").message, kFrequencyNotWholeMessage);
  EXPECT_EQ(ApplyFrequencyText(image, state, "4620000.").message, kFrequencyNotWholeMessage);
  EXPECT_EQ(ApplyFrequencyText(image, state, ".").message, "Please insert a numeric !");
  EXPECT_EQ(ApplyFrequencyText(image, state, "46x0000").message, "Please insert a numeric !");
  EXPECT_EQ(ApplyFrequencyText(image, state, "46a.0000").message, "Please insert a numeric !");
  EXPECT_EQ(image, before);
}

TEST(FrequencyCodec, NoReferenceDividerMeansNoStepAndNoEntry) {
  ConfigImage image = ConfigImage::StartupImage();
  image.WriteBE(12, 3, 0);  // PLLR 0, as an erased or damaged configuration may hold
  PllState state;
  const PllReadout readout = Refill(image, state);
  EXPECT_EQ(state.channelStep, 0u);
  EXPECT_EQ(readout.pllr, "000000");
  EXPECT_EQ(readout.plln, "0044D800");
  EXPECT_EQ(readout.channel, "---");
  EXPECT_EQ(readout.frequency, "---");
  const ConfigImage before = image;
  const FrequencyResult result = ApplyFrequencyText(image, state, "4620000");
  EXPECT_EQ(result.status, FrequencyStatus::Refused);
  EXPECT_EQ(result.message, kNoChannelStepMessage);
  EXPECT_EQ(image, before);
  // Choosing a band puts its defaults back and the frequency can be set again.
  ApplyBand(image, state, 3);
  EXPECT_EQ(RefreshPll(image, state).frequency, "4620000");
  EXPECT_EQ(ApplyFrequencyText(image, state, "4620125").status, FrequencyStatus::Stored);

  // A divider so large the step rounds to 0 Hz is no better.
  image.WriteBE(12, 3, 0xFFFFFF);
  EXPECT_EQ(RefreshPll(image, state).channel, "---");
  // A tiny step gives PLL words that do not fit: refused, nothing written.
  image.WriteBE(12, 3, 800000);
  EXPECT_EQ(RefreshPll(image, state).channel, "0.012KHz");
  const ConfigImage tiny = image;
  EXPECT_EQ(ApplyFrequencyText(image, state, "4990000").message, kPllRangeMessage);
  EXPECT_EQ(image, tiny);
}

TEST(FrequencyCodec, BandByteAboveFourSelectsNothingAndKeepsMult) {
  ConfigImage image = ConfigImage::StartupImage();
  PllState state;
  Refill(image, state);
  image.setByte(11, kBandCount);  // the first byte past the band list
  const PllReadout readout = Refill(image, state);
  EXPECT_FALSE(state.band);
  EXPECT_EQ(state.mult, 3);
  EXPECT_EQ(readout.frequency, "4620000");
  EXPECT_EQ(ApplyFrequencyText(image, state, "4620125").message, kNoBandMessage);

  // Never a band at all: no MULT, no step.
  PllState fresh;
  const PllReadout unknown = Refill(image, fresh);
  EXPECT_EQ(unknown.mult, "---");
  EXPECT_EQ(unknown.channel, "---");
}

TEST(FrequencyCodec, LargeChannelNumberDoesNotWrap) {
  EXPECT_EQ(FrequencyOf(0xFFFFFF80u, 12500), (33554431ull * 12500 + 21400000) / 100);
  const auto limits = ReadBandLimits("929-932MHz(12.5k)");
  ASSERT_TRUE(limits);
  EXPECT_EQ(limits->low, 9290000u);
  EXPECT_EQ(limits->high, 9320000u);
  EXPECT_FALSE(ReadBandLimits("12-"));
}

TEST(FrequencyCodec, PolarityReadsNonzeroAsNormal) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(50, 1);
  EXPECT_EQ(ReadPolarity(image), Polarity::Normal);
  WritePolarity(image, Polarity::Normal);
  EXPECT_EQ(image.byte(50), 3);
  WritePolarity(image, Polarity::Invert);
  EXPECT_EQ(image.byte(50), 0);
  EXPECT_EQ(ReadPolarity(image), Polarity::Invert);
}

}  // namespace
}  // namespace tuva
