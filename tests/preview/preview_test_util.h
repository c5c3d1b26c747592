#pragma once
// Shared set-up of the preview tests: a test host whose Init ran (so the
// host record and its real library loader exist), a shown panel, and pixel
// counting on grabbed pictures.
#include <gtest/gtest.h>

#include <QFrame>
#include <QImage>
#include <QRect>
#include <memory>
#include <string>

#include "preview_molecules.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Call(int32_t);
extern "C" int32_t Free(void);

namespace preview_test {

// Plug-in initialised on a test host; released at the end.
class PreviewTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // A shown frame of the preview's design size (no frame line drawn, so
    // every dark pixel is the drawing's).
    std::unique_ptr<QFrame> NewPanel(int width = 334, int height = 363);

    std::unique_ptr<TestHost> host;
};

// Pixels darker than this (each channel) count as drawing.
bool IsDark(QRgb c);
int CountDark(const QImage& image);
// Bounding box of the dark pixels (null when there are none).
QRect DarkBounds(const QImage& image);
// Pixels clearly red (the logo picture of the tests).
int CountRed(const QImage& image);
// Where the tests leave their pictures for a person to look at.
std::string ShotPath(const std::string& name);

} // namespace preview_test
