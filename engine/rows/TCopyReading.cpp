#include "engine/rows/TCopyReading.h"

TCopyReading::~TCopyReading() {
  Drop();
}

void TCopyReading::Drop() {
  if (reading_.valid()) {
    stop_ = true;
    reading_.wait();
    reading_ = {};
  }
  path_.clear();
}

void TCopyReading::Start(const std::string& copyPath) {
  Drop();
  stop_ = false;
  path_ = copyPath;
  reading_ = std::async(std::launch::async,
                        [this, copyPath] { return TGoneRows::ReadCopy(copyPath, &stop_); });
}

TGoneRows::TCopyFindings TCopyReading::Take(const std::string& copyPath) {
  if (reading_.valid() && path_ == copyPath) {
    path_.clear();
    return reading_.get();
  }
  Drop();
  return TGoneRows::ReadCopy(copyPath);
}
