// `vst3host editor --screenshot` with the real bridge: the PNG it writes,
// read back with libpng, shows Quill's editor where it is embedded.
#include "e2e_support.h"

#include <gmock/gmock.h>
#include <png.h>

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {
namespace {

// Quill's editor: 480 x 300, a sea-green band along its bottom 40 rows.
constexpr uint32_t kBand = 0x2e8b57;
constexpr int kQuillWidth = 480, kQuillHeight = 300, kBandHeight = 40;

struct Picture
{
	int width = 0, height = 0;
	std::vector<uint8_t> rgb;
	uint32_t at (int x, int y) const
	{
		const size_t i = (static_cast<size_t> (y) * width + x) * 3;
		return static_cast<uint32_t> (rgb[i]) << 16 | static_cast<uint32_t> (rgb[i + 1]) << 8 | rgb[i + 2];
	}
	// Pixels of the rectangle [x0, x1) x [y0, y1) that have `colour`.
	long count (int x0, int y0, int x1, int y1, uint32_t colour) const
	{
		long n = 0;
		for (int y = y0; y < y1; ++y)
			for (int x = x0; x < x1; ++x)
				n += at (x, y) == colour;
		return n;
	}
};

bool readPng (const std::string& path, Picture& picture, std::string& error)
{
	png_image image {};
	image.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file (&image, path.c_str ()))
	{
		error = image.message;
		return false;
	}
	image.format = PNG_FORMAT_RGB;
	picture.width = static_cast<int> (image.width);
	picture.height = static_cast<int> (image.height);
	picture.rgb.resize (PNG_IMAGE_SIZE (image));
	if (!png_image_finish_read (&image, nullptr, picture.rgb.data (), 0, nullptr))
	{
		error = image.message;
		return false;
	}
	return true;
}

std::string bundleDir ()
{
	std::string path = QM_BUNDLE_SO; // <bundle>/Contents/x86_64-linux/QuillMarlow.so
	for (int up = 0; up < 3; ++up)
		path = path.substr (0, path.rfind ('/'));
	return path;
}

TEST (Vst3hostEditor, ScreenshotShowsQuillsBandAlongTheBottomOfTheEditor)
{
	const std::string stem = "/tmp/qm_vst3host_editor_" + std::to_string (::getpid ());
	const std::string png = stem + ".png", log = stem + ".log";
	::unlink (png.c_str ());
	// Output to a file: Wine's helpers inherit it and may outlive the run.
	const std::string command = std::string (VST3HOST) + " editor '" + bundleDir () + "' --seconds 1.5 --screenshot '" +
	                            png + "' >'" + log + "' 2>&1 </dev/null";
	const int status = std::system (command.c_str ());
	const std::string output = readText (log);
	::unlink (log.c_str ());
	ASSERT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0) << output;
	EXPECT_THAT (output, ::testing::HasSubstr ("wrote " + png + "\n"));

	Picture picture;
	std::string error;
	ASSERT_TRUE (readPng (png, picture, error)) << error;
	::unlink (png.c_str ());
	// The host opens its window at the size getSize gave before attaching
	// (800 x 600, outpost had no editor yet); the view then asks the host's
	// frame for Quill's size, so no black margin is left around the editor.
	ASSERT_EQ (picture.width, kQuillWidth);
	ASSERT_EQ (picture.height, kQuillHeight);
	const int bandTop = kQuillHeight - kBandHeight;
	EXPECT_EQ (picture.count (0, bandTop, kQuillWidth, kQuillHeight, kBand), long {kQuillWidth} * kBandHeight)
	    << "band rows are not all sea green; pixel (10," << bandTop + 10 << ") is " << std::hex
	    << picture.at (10, bandTop + 10);
	EXPECT_EQ (picture.count (0, 0, kQuillWidth, bandTop, kBand), 0) << "the band colour above the band";
	EXPECT_EQ (picture.count (kQuillWidth, 0, picture.width, picture.height, kBand), 0) << "band beside the editor";
	EXPECT_EQ (picture.count (0, kQuillHeight, kQuillWidth, picture.height, kBand), 0) << "band below the editor";
}

} // namespace
} // namespace e2e
