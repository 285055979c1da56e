// Shared helpers of the tests. Each helper lives in its own header beside this one; this header
// only gathers them.
#pragma once
