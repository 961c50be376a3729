#include "FaceCloud.h"

// Placeholder until the identification chain lands: no token, no search.
FaceCloud::FaceCloud(const std::atomic<bool> &) {}
FaceCloud::~FaceCloud() = default;
bool FaceCloud::hasToken() const { return false; }
void FaceCloud::RequestToken() {}
void FaceCloud::SearchFace(const QByteArray &) {}
