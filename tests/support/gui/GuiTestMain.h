// End-to-end tests run GoogleTest inside a QApplication on the offscreen platform; the main()
// lives in tests/support/gui/GuiTestMain.cpp and is linked into e2e_tests.
#pragma once
