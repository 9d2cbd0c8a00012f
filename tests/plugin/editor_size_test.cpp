// The editor's size crosses the command slot under its report word: outpost's
// writer and the view's reader, driven step by step on one thread. A reader
// never takes a size that a write is still changing, nor one that changed
// while it read: it would pair a new width with an old height.
#include "protocol/editor_size.h"

#include <gtest/gtest.h>

namespace QuillMarlowTest {
namespace {

TEST (EditorSize, AReaderTakesOnlyASizeNoWriteIsChanging)
{
	Tandem::UICommand ui {};
	int32_t report = -1, width = 0, height = 0;
	ASSERT_TRUE (Tandem::readEditorSize (ui, report, width, height));
	EXPECT_EQ (report, 0) << "no size reported yet";

	Tandem::writeEditorSize (ui, 800, 600, false);
	ASSERT_TRUE (Tandem::readEditorSize (ui, report, width, height));
	EXPECT_EQ (width, 800);
	EXPECT_EQ (height, 600);
	EXPECT_NE (report, 0);
	EXPECT_FALSE (Tandem::editorResizable (report));
	const int32_t first = report;

	// outpost stopped half-way through a write: the new width is there, the
	// height still the old one.
	const int32_t before = Tandem::beginSequencedWrite (ui.editorSizeReport);
	ui.editorWidth = 1024;
	EXPECT_FALSE (Tandem::readEditorSize (ui, report, width, height)) << "a write in progress is not taken";
	ui.editorHeight = 768;
	Tandem::endSequencedWrite (ui.editorSizeReport, Tandem::editorSizeReportAfter (before, true));
	ASSERT_TRUE (Tandem::readEditorSize (ui, report, width, height));
	EXPECT_EQ (width, 1024);
	EXPECT_EQ (height, 768);
	EXPECT_TRUE (Tandem::editorResizable (report));
	EXPECT_NE (report, first) << "a new size is a new report";

	// A reader that began before a whole write and ends after it.
	const int32_t begun = Tandem::beginSequencedRead (ui.editorSizeReport);
	const int32_t oldWidth = ui.editorWidth;
	Tandem::writeEditorSize (ui, 300, 200, true);
	const int32_t newHeight = ui.editorHeight;
	EXPECT_FALSE (Tandem::endSequencedRead (ui.editorSizeReport, begun))
	    << "width " << oldWidth << " with height " << newHeight << " would be taken";
	ASSERT_TRUE (Tandem::readEditorSize (ui, report, width, height));
	EXPECT_EQ (width, 300);
	EXPECT_EQ (height, 200);
}

} // namespace
} // namespace QuillMarlowTest
