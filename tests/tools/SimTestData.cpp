#include "SimTestData.h"

#include <QByteArray>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <zlib.h>

#include <fstream>

namespace SimTestData {

std::string imagePath(const std::string &name)
{
    const std::string path = std::string(NEROVA_SHARED_DATA_DIR) + "/images/" + name;
    return std::ifstream(path).good() ? path : std::string();
}

cv::Mat faceCrop(const std::string &imageName)
{
    const std::string path = imagePath(imageName);
    if (path.empty())
        return cv::Mat();
    const cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
    if (image.empty())
        return image;
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    std::vector<cv::Rect> faces;
    cv::CascadeClassifier cascade(std::string(SIM_TEST_HAAR_DIR) + "/haarcascade_frontalface_default.xml");
    if (!cascade.empty())
        cascade.detectMultiScale(grey, faces, 1.1, 5, 0, cv::Size(40, 40));
    cv::Rect area;
    for (const cv::Rect &face : faces)
        area = face.area() > area.area() ? face : area;
    if (area.empty()) {
        const int side = std::min(image.cols, image.rows) / 2;
        area = cv::Rect((image.cols - side) / 2, (image.rows - side) / 2, side, side);
    }
    return image(area).clone();
}

std::string pngBytes(const cv::Mat &image)
{
    std::vector<uchar> encoded;
    cv::imencode(".png", image, encoded);
    return std::string(encoded.begin(), encoded.end());
}

std::string base64(const std::string &bytes)
{
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

std::string gzip(const std::string &bytes)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, bytes.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace SimTestData
