#pragma once

// The camera reader's benchmarks, where the tests' network camera is built.
void registerCameraReaderBenchmarks();
