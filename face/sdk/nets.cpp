#include "face/sdk/nets.h"

#include <QFile>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

#include "face/sdk/weights.h"

namespace tavo::fsdk::detail {
namespace {

using cv::dnn::LayerParams;

const Tensor& tensor(const TensorMap& w, const std::string& name) {
  const auto it = w.find(name);
  if (it == w.end()) throw std::runtime_error("network weights lack the tensor " + name);
  return it->second;
}

// Builds a net layer by layer; layer 0 is the input.
class Builder {
 public:
  explicit Builder(const TensorMap& w) : w_(w) { net_.setInputsNames({"data"}); }
  cv::dnn::Net take() { return std::move(net_); }
  const TensorMap& weights() const { return w_; }

  // Convolution of an HWIO (or depthwise [kh,kw,C,1]) filter; `mul` scales each output channel
  // (folded batch norm or scale layer), `bias` is added after it.
  int conv(int in, const Tensor& filter, const std::vector<float>& bias, int stride,
           const char* padMode, bool depthwise = false, const std::vector<float>* mul = nullptr) {
    if (filter.shape.size() != 4) throw std::runtime_error("bad filter shape");
    const int kh = filter.shape[0], kw = filter.shape[1], ci = filter.shape[2];
    const int co = depthwise ? ci : filter.shape[3];
    const int perGroupIn = depthwise ? 1 : ci;
    cv::Mat blob(std::vector<int>{co, perGroupIn, kh, kw}, CV_32F);
    auto* dst = blob.ptr<float>();
    for (int o = 0; o < co; ++o)
      for (int i = 0; i < perGroupIn; ++i)
        for (int y = 0; y < kh; ++y)
          for (int x = 0; x < kw; ++x) {
            const std::size_t src = depthwise ? (static_cast<std::size_t>(y) * kw + x) * ci + o
                                              : ((static_cast<std::size_t>(y) * kw + x) * ci + i) * co + o;
            float v = filter.values[src];
            if (mul) v *= (*mul)[o];
            dst[((static_cast<std::size_t>(o) * perGroupIn + i) * kh + y) * kw + x] = v;
          }
    LayerParams lp;
    lp.set("kernel_h", kh);
    lp.set("kernel_w", kw);
    lp.set("stride_h", stride);
    lp.set("stride_w", stride);
    lp.set("num_output", co);
    lp.set("group", depthwise ? ci : 1);
    if (std::string(padMode) == "PAD1") {
      lp.set("pad_h", 1);
      lp.set("pad_w", 1);
    } else {
      lp.set("pad_mode", padMode);
    }
    lp.blobs.push_back(blob);
    lp.set("bias_term", !bias.empty());
    if (!bias.empty()) {
      if (static_cast<int>(bias.size()) != co) throw std::runtime_error("bad bias size");
      lp.blobs.push_back(cv::Mat(1, co, CV_32F, const_cast<float*>(bias.data())).clone());
    }
    return add(in, "Convolution", lp);
  }

  int relu(int in, float slope = 0) {
    LayerParams lp;
    if (slope != 0) lp.set("negative_slope", slope);
    return add(in, "ReLU", lp);
  }
  int relu6(int in) {
    LayerParams lp;
    lp.set("min_value", 0.f);
    lp.set("max_value", 6.f);
    return add(in, "ReLU6", lp);
  }
  int pool(int in, const char* kind, int k, int stride, const char* padMode) {
    LayerParams lp;
    lp.set("pool", kind);
    lp.set("kernel_h", k);
    lp.set("kernel_w", k);
    lp.set("stride_h", stride);
    lp.set("stride_w", stride);
    lp.set("pad_mode", padMode);
    lp.set("ceil_mode", false);
    return add(in, "Pooling", lp);
  }
  int globalAverage(int in) {
    LayerParams lp;
    lp.set("pool", "AVE");
    lp.set("global_pooling", true);
    return add(in, "Pooling", lp);
  }
  // Sum; the output has the channels of the first input, narrower inputs add to the first ones.
  int sum(const std::vector<int>& ins) {
    LayerParams lp;
    lp.set("operation", "sum");
    lp.set("output_channels_mode", "input_0");
    const int id = addOnly("Eltwise", lp);
    for (std::size_t i = 0; i < ins.size(); ++i) net_.connect(ins[i], 0, id, static_cast<int>(i));
    return id;
  }
  int padBottomRight(int in) {
    LayerParams lp;
    const int pads[8] = {0, 0, 0, 0, 0, 1, 0, 1};
    lp.set("paddings", cv::dnn::DictValue::arrayInt(pads, 8));
    lp.set("value", 0.f);
    return add(in, "Padding", lp);
  }
  int dense(int in, const Tensor& weights, const Tensor* bias) {
    const int ni = weights.shape[0], no = weights.shape[1];
    cv::Mat w(no, ni, CV_32F);
    for (int o = 0; o < no; ++o)
      for (int i = 0; i < ni; ++i) w.at<float>(o, i) = weights.values[static_cast<std::size_t>(i) * no + o];
    LayerParams lp;
    lp.set("num_output", no);
    lp.set("bias_term", bias != nullptr);
    lp.set("axis", 1);
    lp.blobs.push_back(w);
    if (bias) lp.blobs.push_back(cv::Mat(1, no, CV_32F, const_cast<float*>(bias->values.data())).clone());
    return add(in, "InnerProduct", lp);
  }
  std::string nameOf(int id) const { return names_.at(id); }

 private:
  int addOnly(const char* type, LayerParams& lp) {
    const std::string name = std::string(type) + "_" + std::to_string(++counter_);
    lp.name = name;
    lp.type = type;
    const int id = net_.addLayer(name, type, lp);
    if (id < 0) throw std::runtime_error(std::string("cannot add a layer of type ") + type);
    if (static_cast<int>(names_.size()) <= id) names_.resize(id + 1);
    names_[id] = name;
    return id;
  }
  int add(int in, const char* type, LayerParams& lp) {
    const int id = addOnly(type, lp);
    net_.connect(in, 0, id, 0);
    return id;
  }

  const TensorMap& w_;
  cv::dnn::Net net_;
  int counter_ = 0;
  std::vector<std::string> names_;
};

const std::vector<float>& values(const TensorMap& w, const std::string& name) {
  return tensor(w, name).values;
}

void finish(cv::dnn::Net& net) {
  net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
  net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
}

// --- tiny face detector -------------------------------------------------------------------------

cv::dnn::Net buildTiny(const TensorMap& w) {
  Builder b(w);
  auto sep = [&](int in, const std::string& p) {
    const int dw = b.conv(in, tensor(w, p + "/depthwise_filter"), {}, 1, "PAD1", true);
    const int pw = b.conv(dw, tensor(w, p + "/pointwise_filter"), values(w, p + "/bias"), 1, "VALID");
    return b.relu(pw, 0.1f);
  };
  int x = b.relu(b.conv(0, tensor(w, "conv0/filters"), values(w, "conv0/bias"), 1, "VALID"), 0.1f);
  x = b.pool(x, "MAX", 2, 2, "SAME");
  for (int i = 1; i <= 5; ++i) {
    x = sep(x, "conv" + std::to_string(i));
    x = b.pool(x, "MAX", 2, i < 5 ? 2 : 1, "SAME");
  }
  b.conv(x, tensor(w, "conv8/filters"), values(w, "conv8/bias"), 1, "VALID");
  cv::dnn::Net net = b.take();
  finish(net);
  return net;
}

const float kTinyAnchors[5][2] = {
    {1.603231f, 2.094468f}, {6.041143f, 7.080126f}, {2.882459f, 3.518061f},
    {4.266906f, 5.178857f}, {9.041765f, 10.66308f}};

float sigmoid(float v) { return 1.f / (1.f + std::exp(-v)); }

// Pads bottom and right to a square (as the nets were trained) and resizes to size x size.
cv::Mat letterbox(const cv::Mat& bgr, int size) {
  const int side = std::max(bgr.cols, bgr.rows);
  cv::Mat square;
  cv::copyMakeBorder(bgr, square, 0, side - bgr.rows, 0, side - bgr.cols, cv::BORDER_CONSTANT,
                     cv::Scalar::all(0));
  cv::Mat out;
  cv::resize(square, out, cv::Size(size, size), 0, 0, side > size ? cv::INTER_AREA : cv::INTER_LINEAR);
  return out;
}

// --- SSD MobileNet v1 ---------------------------------------------------------------------------

struct SsdNet {
  cv::dnn::Net net;
  std::vector<std::string> outputs;  // per predictor: boxes, classes
};

SsdNet buildSsd(const TensorMap& w) {
  Builder b(w);
  const std::string m = "MobilenetV1/";
  auto pointwise = [&](int in, const std::string& p, int stride) {
    return b.relu6(b.conv(in, tensor(w, p + "/weights"), values(w, p + "/convolution_bn_offset"),
                          stride, "SAME"));
  };
  auto depthwise = [&](int in, const std::string& p, int stride) {
    const auto& gamma = values(w, p + "/BatchNorm/gamma");
    const auto& beta = values(w, p + "/BatchNorm/beta");
    const auto& mean = values(w, p + "/BatchNorm/moving_mean");
    const auto& var = values(w, p + "/BatchNorm/moving_variance");
    std::vector<float> mul(gamma.size()), bias(gamma.size());
    for (std::size_t c = 0; c < gamma.size(); ++c) {
      mul[c] = gamma[c] / std::sqrt(var[c] + 0.0010000000474974513f);
      bias[c] = beta[c] - mean[c] * mul[c];
    }
    return b.relu6(b.conv(in, tensor(w, p + "/depthwise_weights"), bias, stride, "SAME", true, &mul));
  };
  int x = pointwise(0, m + "Conv2d_0_pointwise", 2);
  const int strides[14] = {0, 1, 2, 1, 2, 1, 2, 1, 1, 1, 1, 1, 2, 1};
  int conv11 = 0;
  for (int i = 1; i <= 13; ++i) {
    const std::string p = m + "Conv2d_" + std::to_string(i);
    x = depthwise(x, p + "_depthwise", strides[i]);
    x = pointwise(x, p + "_pointwise", 1);
    if (i == 11) conv11 = x;
  }
  const std::string pp = "Prediction/Conv2d_";
  int sources[6] = {conv11, x, 0, 0, 0, 0};
  int y = x;
  for (int i = 0; i < 8; ++i) {
    y = pointwise(y, pp + std::to_string(i) + "_pointwise", i % 2 == 1 ? 2 : 1);
    if (i % 2 == 1) sources[2 + i / 2] = y;
  }
  SsdNet out;
  for (int i = 0; i < 6; ++i) {
    const std::string p = "Prediction/BoxPredictor_" + std::to_string(i);
    const int box = b.conv(sources[i], tensor(w, p + "/BoxEncodingPredictor/weights"),
                           values(w, p + "/BoxEncodingPredictor/biases"), 1, "SAME");
    const int cls = b.conv(sources[i], tensor(w, p + "/ClassPredictor/weights"),
                           values(w, p + "/ClassPredictor/biases"), 1, "SAME");
    out.outputs.push_back(b.nameOf(box));
    out.outputs.push_back(b.nameOf(cls));
  }
  out.net = b.take();
  finish(out.net);
  return out;
}

// --- 68-point landmarks -------------------------------------------------------------------------

cv::dnn::Net buildLandmarks(const TensorMap& w) {
  Builder b(w);
  auto sep = [&](int in, const std::string& p, int stride) {
    const int dw = b.conv(in, tensor(w, p + "/depthwise_filter"), {}, stride, "SAME", true);
    return b.conv(dw, tensor(w, p + "/pointwise_filter"), values(w, p + "/bias"), 1, "VALID");
  };
  int x = 0;
  for (int d = 0; d < 4; ++d) {
    const std::string p = "dense" + std::to_string(d) + "/";
    const int out1 = b.relu(d == 0 ? b.conv(x, tensor(w, p + "conv0/filters"), values(w, p + "conv0/bias"), 2, "SAME")
                                   : sep(x, p + "conv0", 2));
    const int out2 = sep(out1, p + "conv1", 1);
    const int in3 = b.relu(b.sum({out1, out2}));
    const int out3 = sep(in3, p + "conv2", 1);
    const int in4 = b.relu(b.sum({out1, out2, out3}));
    const int out4 = sep(in4, p + "conv3", 1);
    x = b.relu(b.sum({out1, out2, out3, out4}));
  }
  x = b.pool(x, "AVE", 7, 2, "VALID");
  b.dense(x, tensor(w, "fc/weights"), &tensor(w, "fc/bias"));
  cv::dnn::Net net = b.take();
  finish(net);
  return net;
}

// --- descriptor ResNet --------------------------------------------------------------------------

cv::dnn::Net buildRecogniser(const TensorMap& w) {
  Builder b(w);
  // conv + bias, then the scale layer (x * weights + biases), folded into the convolution.
  auto convScale = [&](int in, const std::string& p, int stride, const char* pad, bool relu) {
    const auto& bias = values(w, p + "/conv/bias");
    const auto& mul = values(w, p + "/scale/weights");
    const auto& add = values(w, p + "/scale/biases");
    std::vector<float> folded(bias.size());
    for (std::size_t c = 0; c < bias.size(); ++c) folded[c] = bias[c] * mul[c] + add[c];
    const int id = b.conv(in, tensor(w, p + "/conv/filters"), folded, stride, pad, false, &mul);
    return relu ? b.relu(id) : id;
  };
  int size = 150;
  int x = convScale(0, "conv32_down", 2, "VALID", true);
  size = (size - 7) / 2 + 1;
  x = b.pool(x, "MAX", 3, 2, "VALID");
  size = (size - 3) / 2 + 1;
  auto residual = [&](int in, const std::string& p) {
    const int c1 = convScale(in, p + "/conv1", 1, "SAME", true);
    const int c2 = convScale(c1, p + "/conv2", 1, "SAME", false);
    return b.relu(b.sum({c2, in}));
  };
  auto residualDown = [&](int in, const std::string& p) {
    const int c1 = convScale(in, p + "/conv1", 2, "VALID", true);
    int c2 = convScale(c1, p + "/conv2", 1, "SAME", false);
    const int convSize = (size - 3) / 2 + 1;
    const int poolSize = size / 2;
    if (convSize != poolSize) c2 = b.padBottomRight(c2);
    const int pooled = b.pool(in, "AVE", 2, 2, "VALID");
    size = poolSize;
    return b.relu(b.sum({c2, pooled}));
  };
  for (int i = 1; i <= 3; ++i) x = residual(x, "conv32_" + std::to_string(i));
  x = residualDown(x, "conv64_down");
  for (int i = 1; i <= 3; ++i) x = residual(x, "conv64_" + std::to_string(i));
  x = residualDown(x, "conv128_down");
  for (int i = 1; i <= 2; ++i) x = residual(x, "conv128_" + std::to_string(i));
  x = residualDown(x, "conv256_down");
  for (int i = 1; i <= 2; ++i) x = residual(x, "conv256_" + std::to_string(i));
  x = residualDown(x, "conv256_down_out");
  x = b.globalAverage(x);
  b.dense(x, tensor(w, "fc"), nullptr);
  cv::dnn::Net net = b.take();
  finish(net);
  return net;
}

const cv::Scalar kFaceMeanRgb(122.782, 117.001, 104.298);

// An ONNX network file of the folder, read as it is. Throws std::runtime_error when it is missing
// or does not load.
cv::dnn::Net readOnnx(NetFiles& files, const char* name) {
  const QString path = files.dir() + '/' + QString::fromLatin1(name);
  const QByteArray bytes = files.read(QString::fromLatin1(name));
  cv::dnn::Net net;
  try {
    net = cv::dnn::readNetFromONNX(bytes.constData(), std::size_t(bytes.size()));
  } catch (const cv::Exception&) {
  }
  if (net.empty()) throw std::runtime_error("cannot load " + path.toStdString());
  finish(net);
  return net;
}

}  // namespace

std::vector<Detection> suppress(std::vector<Detection> found, float iou) {
  std::vector<Detection> kept;
  for (const Detection& d : found) {
    bool overlaps = false;
    for (const Detection& k : kept) {
      const float inter = (d.box & k.box).area();
      const float uni = d.box.area() + k.box.area() - inter;
      if (uni > 0 && inter / uni > iou) {
        overlaps = true;
        break;
      }
    }
    if (!overlaps) kept.push_back(d);
  }
  return kept;
}

NetCopies::NetCopies(Build build, cv::dnn::Net first, int most) : build_(std::move(build)), most_(std::max(most, 1)) {
  auto copy = std::make_unique<Copy>();
  copy->net = first.empty() ? build_() : first;
  copies_.push_back(std::move(copy));
}

int NetCopies::defaultCopies() { return std::clamp(int(std::thread::hardware_concurrency()), 1, 2); }

int NetCopies::copies() const {
  std::lock_guard<std::mutex> guard(lock_);
  return int(copies_.size());
}

NetCopies::Copy* NetCopies::acquire() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    for (auto& c : copies_)
      if (!c->busy) {
        c->busy = true;
        return c.get();
      }
    if (int(copies_.size()) + building_ < most_) break;
    freed_.wait(guard);
  }
  ++building_;
  guard.unlock();
  auto made = std::make_unique<Copy>();
  try {
    made->net = build_();
  } catch (...) {
    guard.lock();
    --building_;
    freed_.notify_all();
    throw;
  }
  made->busy = true;
  guard.lock();
  --building_;
  copies_.push_back(std::move(made));
  return copies_.back().get();
}

void NetCopies::release(Copy* copy) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    copy->busy = false;
  }
  freed_.notify_one();
}

NetCopies::Lease::Lease(NetCopies& owner) : owner_(owner), copy_(owner.acquire()) {}
NetCopies::Lease::~Lease() { owner_.release(copy_); }

FaceNets::FaceNets(const QString& dir, DetectorKind primary, DescriptorKind descriptor)
    : files_(std::make_shared<NetFiles>(dir)), primary_(primary), descriptorKind_(descriptor) {
  const auto files = files_;
  landmarks_ = std::make_unique<NetCopies>([files] { return buildLandmarks(loadWeights(*files, "face_landmark_68_model")); });
  if (descriptor == DescriptorKind::ResNet128) {
    descriptor_ = std::make_unique<NetCopies>([files] { return buildRecogniser(loadWeights(*files, "face_recognition_model")); });
  } else {
    descriptor_ = std::make_unique<NetCopies>([files] { return readOnnx(*files, "fr_feature.onnx"); });
  }
  // The first pass allocates and tunes: do it now, not in the first check-in.
  const cv::Mat grey(160, 160, CV_8UC3, cv::Scalar::all(128));
  detector(primary_);
  detect(grey, 0.99f, 416);
  detectLight(grey, 0.99f, 0);
  landmarks(grey, cv::Rect2f(20, 20, 120, 120));
  describe(grey);
}

NetCopies& FaceNets::detector(DetectorKind kind) {
  std::lock_guard<std::mutex> guard(buildLock_);
  std::unique_ptr<NetCopies>& slot = kind == DetectorKind::Tiny ? tiny_ : kind == DetectorKind::Ssd ? ssd_ : light_;
  if (!slot) {
    const auto files = files_;
    if (kind == DetectorKind::Light) {
      slot = std::make_unique<NetCopies>([files] { return readOnnx(*files, "fr_detect.onnx"); });
    } else if (kind == DetectorKind::Tiny) {
      slot = std::make_unique<NetCopies>([files] { return buildTiny(loadWeights(*files, "tiny_face_detector_model")); });
    } else {
      const TensorMap w = loadWeights(*files_, "ssd_mobilenetv1_model");
      const SsdNet ssd = buildSsd(w);
      ssdPriors_ = tensor(w, "Output/extra_dim").values;
      if (ssdPriors_.size() != 5118 * 4) throw std::runtime_error("bad SSD priors");
      ssdOutputs_ = ssd.outputs;
      // The first copy is the net just built; more are built from the weights again.
      slot = std::make_unique<NetCopies>([files] { return buildSsd(loadWeights(*files, "ssd_mobilenetv1_model")).net; },
                                         ssd.net);
    }
  }
  return *slot;
}

std::vector<Detection> FaceNets::detect(const cv::Mat& bgr, float minScore, int inputSize) {
  return detectWith(primary_, bgr, minScore, inputSize);
}

std::vector<Detection> FaceNets::detectWith(DetectorKind kind, const cv::Mat& bgr, float minScore,
                                            int inputSize) {
  if (bgr.empty()) return {};
  if (kind == DetectorKind::Light) return detectLight(bgr, minScore, 0);
  return kind == DetectorKind::Tiny ? runTiny(bgr, minScore, inputSize) : runSsd(bgr, minScore);
}

std::vector<Detection> FaceNets::detectLight(const cv::Mat& bgr, float minScore, double border) {
  if (bgr.empty()) return {};
  NetCopies& nets = detector(DetectorKind::Light);
  // The picture with its border, scaled to fit 320 x 240 and centred (the rest black): the
  // detector was trained on 4:3 pictures and finds faces of 10 px and more at that size.
  const int inW = 320, inH = 240;
  const double pad = border * std::max(bgr.cols, bgr.rows);
  const double outerW = bgr.cols + 2 * pad, outerH = bgr.rows + 2 * pad;
  const double scale = std::min(inW / outerW, inH / outerH);
  const cv::Size size(std::clamp(cvRound(bgr.cols * scale), 1, inW), std::clamp(cvRound(bgr.rows * scale), 1, inH));
  const cv::Point at((inW - size.width) / 2, (inH - size.height) / 2);
  cv::Mat canvas(inH, inW, CV_8UC3, cv::Scalar::all(0));
  cv::resize(bgr, canvas(cv::Rect(at, size)), size, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
  // RGB, (x - 127) / 128: on 400 celeba pictures RGB scored higher than BGR (2 against 4 under 0.65).
  const cv::Mat blob = cv::dnn::blobFromImage(canvas, 1.0 / 128, cv::Size(), cv::Scalar::all(127), true, false);
  std::vector<cv::Mat> outs;
  nets.with([&](cv::dnn::Net& net) {
    net.setInput(blob);
    net.forward(outs, std::vector<cv::String>{"boxes", "scores"});
    for (cv::Mat& o : outs) o = o.clone();
  });
  const int priors = static_cast<int>(outs[1].total() / 2);
  if (static_cast<int>(outs[0].total()) != 4 * priors) throw std::runtime_error("bad light detector output");
  const float* boxes = outs[0].ptr<float>();
  const float* scores = outs[1].ptr<float>();
  // Back from fractions of the input to pixels of bgr.
  const float sx = static_cast<float>(inW / scale), sy = static_cast<float>(inH / scale);
  const float ox = static_cast<float>(at.x / scale), oy = static_cast<float>(at.y / scale);
  std::vector<Detection> found;
  for (int i = 0; i < priors; ++i) {
    const float score = scores[2 * i + 1];
    if (score <= minScore) continue;
    const float* b = boxes + 4 * i;
    const float x1 = b[0] * sx - ox, y1 = b[1] * sy - oy, x2 = b[2] * sx - ox, y2 = b[3] * sy - oy;
    if (x2 <= x1 || y2 <= y1) continue;
    found.push_back({cv::Rect2f(x1, y1, x2 - x1, y2 - y1), score});
  }
  std::sort(found.begin(), found.end(), [](const Detection& a, const Detection& b) { return a.score > b.score; });
  return suppress(std::move(found), 0.4f);
}

std::vector<Detection> FaceNets::runTiny(const cv::Mat& bgr, float minScore, int inputSize) {
  NetCopies& nets = detector(DetectorKind::Tiny);
  const cv::Mat input = letterbox(bgr, inputSize);
  const cv::Mat blob = cv::dnn::blobFromImage(input, 1.0 / 255, cv::Size(), cv::Scalar(117.001, 114.697, 97.404), true, false);
  const cv::Mat out = nets.with([&](cv::dnn::Net& net) {
    net.setInput(blob);
    return net.forward().clone();
  });
  const int cells = out.size[2];
  const int plane = cells * out.size[3];
  const float* data = out.ptr<float>();
  const float side = static_cast<float>(std::max(bgr.cols, bgr.rows));
  std::vector<Detection> found;
  for (int row = 0; row < cells; ++row)
    for (int col = 0; col < out.size[3]; ++col)
      for (int a = 0; a < 5; ++a) {
        auto at = [&](int k) { return data[(a * 5 + k) * plane + row * out.size[3] + col]; };
        const float score = sigmoid(at(4));
        if (score <= minScore) continue;
        const float cx = (col + sigmoid(at(0))) / cells;
        const float cy = (row + sigmoid(at(1))) / cells;
        const float w = std::exp(at(2)) * kTinyAnchors[a][0] / cells;
        const float h = std::exp(at(3)) * kTinyAnchors[a][1] / cells;
        found.push_back({cv::Rect2f((cx - w / 2) * side, (cy - h / 2) * side, w * side, h * side), score});
      }
  std::sort(found.begin(), found.end(), [](const Detection& a, const Detection& b) { return a.score > b.score; });
  return suppress(std::move(found), 0.4f);
}

std::vector<Detection> FaceNets::runSsd(const cv::Mat& bgr, float minScore) {
  NetCopies& nets = detector(DetectorKind::Ssd);
  const cv::Mat input = letterbox(bgr, 512);
  const cv::Mat blob = cv::dnn::blobFromImage(input, 1.0 / 127.5, cv::Size(), cv::Scalar::all(127.5), true, false);
  std::vector<cv::Mat> outs;
  nets.with([&](cv::dnn::Net& net) {
    net.setInput(blob);
    net.forward(outs, ssdOutputs_);
    for (cv::Mat& o : outs) o = o.clone();
  });
  const float side = static_cast<float>(std::max(bgr.cols, bgr.rows));
  std::vector<Detection> found;
  std::size_t prior = 0;
  for (int i = 0; i < 6; ++i) {
    const cv::Mat& boxes = outs[2 * i];
    const cv::Mat& classes = outs[2 * i + 1];
    const int h = boxes.size[2], w = boxes.size[3], plane = h * w;
    const int anchors = boxes.size[1] / 4;
    const float* bd = boxes.ptr<float>();
    const float* cd = classes.ptr<float>();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int a = 0; a < anchors; ++a, ++prior) {
          const float score = sigmoid(cd[(a * 3 + 1) * plane + y * w + x]);
          if (score <= minScore) continue;
          const float* p = &ssdPriors_[prior * 4];
          const float ph = p[2] - p[0], pw = p[3] - p[1];
          const float pcy = p[0] + ph / 2, pcx = p[1] + pw / 2;
          auto enc = [&](int k) { return bd[(a * 4 + k) * plane + y * w + x]; };
          const float cy = enc(0) / 10 * ph + pcy, cx = enc(1) / 10 * pw + pcx;
          const float hh = std::exp(enc(2) / 5) * ph / 2, hw = std::exp(enc(3) / 5) * pw / 2;
          const float top = std::max(0.f, cy - hh), bottom = std::min(1.f, cy + hh);
          const float left = std::max(0.f, cx - hw), right = std::min(1.f, cx + hw);
          if (bottom <= top || right <= left) continue;
          found.push_back({cv::Rect2f(left * side, top * side, (right - left) * side, (bottom - top) * side), score});
        }
  }
  std::sort(found.begin(), found.end(), [](const Detection& a, const Detection& b) { return a.score > b.score; });
  return suppress(std::move(found), 0.5f);
}

Landmarks FaceNets::landmarks(const cv::Mat& bgr, const cv::Rect2f& square) {
  const cv::Rect box(cvRound(square.x), cvRound(square.y), std::max(1, cvRound(square.width)),
                     std::max(1, cvRound(square.height)));
  const cv::Rect inside = box & cv::Rect(0, 0, bgr.cols, bgr.rows);
  cv::Mat crop(box.size(), CV_8UC3, cv::Scalar::all(0));
  if (!inside.empty()) bgr(inside).copyTo(crop(inside - box.tl()));
  cv::Mat small;
  cv::resize(crop, small, cv::Size(112, 112), 0, 0, box.width > 112 ? cv::INTER_AREA : cv::INTER_LINEAR);
  const cv::Mat blob = cv::dnn::blobFromImage(small, 1.0 / 255, cv::Size(), kFaceMeanRgb, true, false);
  const cv::Mat out = landmarks_->with([&](cv::dnn::Net& net) {
    net.setInput(blob);
    return net.forward().clone();
  });
  const float* v = out.ptr<float>();
  Landmarks points;
  for (int i = 0; i < 68; ++i)
    points[i] = cv::Point2f(box.x + v[2 * i] * box.width, box.y + v[2 * i + 1] * box.height);
  return points;
}

std::vector<float> FaceNets::describe(const cv::Mat& chip) {
  // Feature512: BGR as OpenCV holds it, (x - 127) / 128 at 112 px (the network was trained on
  // BGR: fed RGB, as the package's own browser code does, it separates people measurably worse);
  // ResNet128: RGB, (x - mean) / 255 at 150 px. Feature512 describes the chip and its mirror image
  // in one pass (a batch of two) and adds the two unit descriptors: a face is the same person
  // mirrored, and the sum separates people better on every development set (docs/accuracy.md).
  const bool feature = descriptorKind_ == DescriptorKind::Feature512;
  const bool flip = feature;
  cv::Mat blob;
  if (flip) {
    cv::Mat flipped;
    cv::flip(chip, flipped, 1);
    blob = cv::dnn::blobFromImages(std::vector<cv::Mat>{chip, flipped}, 1.0 / 128, cv::Size(112, 112),
                                   cv::Scalar::all(127), false, false);
  } else {
    blob = feature ? cv::dnn::blobFromImage(chip, 1.0 / 128, cv::Size(112, 112), cv::Scalar::all(127), false, false)
                   : cv::dnn::blobFromImage(chip, 1.0 / 255, cv::Size(150, 150), kFaceMeanRgb, true, false);
  }
  const cv::Mat out = descriptor_->with([&](cv::dnn::Net& net) {
    net.setInput(blob);
    return net.forward().clone();
  });
  const std::size_t expected = feature ? 512 : 128;
  if (out.total() != expected * (flip ? 2 : 1)) throw std::runtime_error("bad descriptor size");
  const float* x = out.ptr<float>();
  if (!flip) return std::vector<float>(x, x + expected);
  const float* y = x + expected;
  double n1 = 0, n2 = 0;
  for (std::size_t i = 0; i < expected; ++i) n1 += double(x[i]) * x[i], n2 += double(y[i]) * y[i];
  std::vector<float> d(expected);
  for (std::size_t i = 0; i < expected; ++i) d[i] = float(x[i] / std::sqrt(n1) + y[i] / std::sqrt(n2));
  return d;
}

}  // namespace tavo::fsdk::detail
