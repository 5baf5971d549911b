#include "thumbnails/view.h"

#include <algorithm>
#include <cmath>
#include <gemmi/eig3.hpp>

namespace {

constexpr double kPi = 3.14159265358979323846;

// How much the third moments weigh beside the second in a frame's score: enough to choose where
// the second cannot, little enough to turn the view but a few degrees off the principal axes.
constexpr double kSkewWeight = 0.1;

// A membrane: lipids spread 12 Å or more (as the root mean square) along the second axis of their
// spread, some 40 Å across, and along the least at most this share of it (in squares).
constexpr double kLeastLayerSpread = 12;
constexpr double kFlatness = 0.6;

// The second and third moments of atoms about a point, for their spread and their skew along any
// direction: the means of (p·v)² and (p·v)³.
class Moments {
 public:
  template <typename Which>
  Moments(const std::vector<Shown>& atoms, const Vector& centre, Which which) {
    for (const Shown& atom : atoms) {
      if (!which(atom)) {
        continue;
      }
      const double x = atom.x - centre.x, y = atom.y - centre.y, z = atom.z - centre.z;
      const double terms2[6] = {x * x, y * y, z * z, x * y, x * z, y * z};
      for (std::size_t i = 0; i < 6; ++i) {
        second_[i] += terms2[i];
      }
      const double terms3[10] = {x * x * x, y * y * y, z * z * z, x * x * y, x * x * z,
                                 x * y * y, y * y * z, x * z * z, y * z * z, x * y * z};
      for (std::size_t i = 0; i < 10; ++i) {
        third_[i] += terms3[i];
      }
      ++count_;
    }
    for (double& m : second_) {
      m /= std::max(count_, 1.0);
    }
    for (double& m : third_) {
      m /= std::max(count_, 1.0);
    }
  }

  double count() const { return count_; }
  double Total() const { return second_[0] + second_[1] + second_[2]; }
  double Spread(const Vector& v) const {
    const double* m = second_;
    return m[0] * v.x * v.x + m[1] * v.y * v.y + m[2] * v.z * v.z +
           2 * (m[3] * v.x * v.y + m[4] * v.x * v.z + m[5] * v.y * v.z);
  }
  double Skew(const Vector& v) const {
    const double* m = third_;
    return m[0] * v.x * v.x * v.x + m[1] * v.y * v.y * v.y + m[2] * v.z * v.z * v.z +
           3 * (m[3] * v.x * v.x * v.y + m[4] * v.x * v.x * v.z + m[5] * v.x * v.y * v.y +
                m[6] * v.y * v.y * v.z + m[7] * v.x * v.z * v.z + m[8] * v.y * v.z * v.z) +
           6 * m[9] * v.x * v.y * v.z;
  }
  // The principal axes, the largest spread first.
  Frame Axes() const {
    const double* m = second_;
    double values[3];
    const gemmi::Mat33 vectors =
        gemmi::eigen_decomposition(gemmi::SMat33<double>{m[0], m[1], m[2], m[3], m[4], m[5]},
                                   values);  // ascending
    Frame axes;
    for (std::size_t i = 0; i < 3; ++i) {
      axes[i] = {vectors[0][2 - i], vectors[1][2 - i], vectors[2][2 - i]};
    }
    axes[2] = Cross(axes[0], axes[1]);
    return axes;
  }

 private:
  double second_[6] = {};  // xx yy zz xy xz yz
  double third_[10] = {};  // xxx yyy zzz xxy xxz xyy yyz xzz yzz xyz
  double count_ = 0;
};

// How well `frame` shows what `moments` describe: the widest spread across, the least along the
// view, and each of the first two axes towards where the atoms reach farther.
double Score(const Moments& moments, const Frame& frame) {
  const double total = moments.Total();
  return (moments.Spread(frame[0]) - moments.Spread(frame[2])) / total +
         kSkewWeight * (moments.Skew(frame[0]) + moments.Skew(frame[1])) /
             (total * std::sqrt(total));
}

// `frame` turned about the axes `turns` while its score grows, in ever smaller steps.
Frame Climbed(const Moments& moments, Frame frame, const std::vector<std::size_t>& turns) {
  constexpr int kMostSteps = 64;
  double score = Score(moments, frame);
  for (double step = 0.05; step > 1e-8; step /= 2) {
    for (int steps = 0, better = 1; better && steps < kMostSteps; ++steps) {
      better = 0;
      for (const std::size_t axis : turns) {
        for (const double angle : {step, -step}) {
          const Frame turned = Turned(frame, axis, angle);
          if (const double s = Score(moments, turned); s > score) {
            frame = turned, score = s, better = 1;
          }
        }
      }
    }
  }
  return Orthonormal(frame);
}

// A frame turned about its axis `axis` in even steps, all the way round.
std::vector<Frame> Sweep(const Frame& frame, std::size_t axis) {
  constexpr int kSteps = 72;
  std::vector<Frame> sweep;
  for (int step = 0; step < kSteps; ++step) {
    sweep.push_back(Turned(frame, axis, 2 * kPi * step / kSteps));
  }
  return sweep;
}

// The best-scoring frame: each frame of `sweeps` that scores better than those beside it in its
// sweep (a hill, of which the structure has few: the principal axes each way, and more where
// spreads are nearly equal) climbed by turns about `turns`; the first, where none does (atoms
// spread alike every way).
Frame Best(const Moments& moments, const std::vector<std::vector<Frame>>& sweeps,
           const std::vector<std::size_t>& turns) {
  Frame best = Climbed(moments, sweeps.front().front(), turns);
  double best_score = Score(moments, best);
  for (const std::vector<Frame>& sweep : sweeps) {
    std::vector<double> scores;
    for (const Frame& frame : sweep) {
      scores.push_back(Score(moments, frame));
    }
    const std::size_t n = sweep.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (scores[i] < scores[(i + n - 1) % n] || scores[i] <= scores[(i + 1) % n]) {
        continue;
      }
      const Frame climbed = Climbed(moments, sweep[i], turns);
      if (const double score = Score(moments, climbed); score > best_score) {
        best = climbed, best_score = score;
      }
    }
  }
  return best;
}

// The sweeps that find every hill of a structure of principal axes `axes`: with the view along
// the least spread either way, turned about it; and with the widest spread across either way,
// the view turned about it.
std::vector<std::vector<Frame>> Sweeps(const Frame& axes) {
  const Frame flipped = {-1.0 * axes[0], axes[1], -1.0 * axes[2]};
  return {Sweep(axes, 2), Sweep(flipped, 2), Sweep(axes, 0), Sweep(flipped, 0)};
}

// The sweep of frames with `up` up, turned about it.
std::vector<std::vector<Frame>> SweepsAbout(const Vector& up, const Frame& axes) {
  const Vector across = std::abs(Dot(up, axes[0])) < 0.9 ? axes[0] : axes[1];
  const Vector x = Unit(across - Dot(across, up) * up);
  return {Sweep({x, up, Cross(x, up)}, 1)};
}

bool IsLipid(const Shown& atom) { return atom.part == Part::kLipid; }
bool IsPolymer(const Shown& atom) { return atom.part == Part::kPolymer; }
bool Any(const Shown&) { return true; }

// The centre of those of `atoms` that `which` takes; the origin where it takes none.
template <typename Which>
Vector CentreOf(const std::vector<Shown>& atoms, Which which) {
  Vector sum;
  double count = 0;
  for (const Shown& atom : atoms) {
    if (which(atom)) {
      sum = sum + Vector{atom.x, atom.y, atom.z};
      ++count;
    }
  }
  return (1 / std::max(count, 1.0)) * sum;
}

}  // namespace

View ViewOf(const std::vector<Shown>& atoms) {
  View view;
  view.centre = CentreOf(atoms, Any);
  view.axes = {Vector{1, 0, 0}, Vector{0, 1, 0}, Vector{0, 0, 1}};
  const Moments all(atoms, view.centre, Any);
  if (all.Total() <= 0) {
    return view;  // One atom, or all in one place.
  }
  const Moments lipids(atoms, CentreOf(atoms, IsLipid), IsLipid);
  const Frame layer = lipids.count() > 0 ? lipids.Axes() : Frame{};
  const double middle = lipids.Spread(layer[1]), least = lipids.Spread(layer[2]);
  if (lipids.count() == 0 || middle < kLeastLayerSpread * kLeastLayerSpread ||
      least > kFlatness * middle) {
    view.axes = Best(all, Sweeps(all.Axes()), {0, 1, 2});
    return view;
  }
  // A membrane, seen side-on, turned about its normal to show the polymer in it best.
  const Moments polymer(atoms, CentreOf(atoms, IsPolymer), IsPolymer);
  const Moments& shape = polymer.count() > 0 ? polymer : all;
  const Vector up = all.Skew(layer[2]) < 0 ? -1.0 * layer[2] : layer[2];
  view.axes = Best(shape, SweepsAbout(up, shape.Axes()), {1});
  if (polymer.count() > 0) {
    view.lipids_cut = Dot(CentreOf(atoms, IsPolymer) - view.centre, view.axes[2]);
  }
  return view;
}

void LeaveOutWhatHides(const View& view, std::vector<Shown>* atoms) {
  if (!view.lipids_cut) {
    return;
  }
  atoms->erase(std::remove_if(atoms->begin(), atoms->end(),
                              [&](const Shown& atom) {
                                return IsLipid(atom) &&
                                       Dot(Vector{atom.x, atom.y, atom.z} - view.centre,
                                           view.axes[2]) > *view.lipids_cut;
                              }),
               atoms->end());
}
