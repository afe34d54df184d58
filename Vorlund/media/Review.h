#pragma once

#include "ServerContext.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace vorlund {

inline constexpr std::string_view kEndOfImageList = "End of image list.";
inline constexpr std::string_view kBadImageEncode = "bad image encode.";
inline constexpr std::string_view kReviewMenuText = "&Review";
inline constexpr std::string_view kCancelReviewMenuText = "Cancel &Review";

// The stepping keys, as character codes.
inline constexpr int kReviewKeyBackspace = 0x08;
inline constexpr int kReviewKeySpace = 0x20;

// The largest picture shown at its own size while capture is stopped.
inline constexpr int kReviewMaxWidth = 720;
inline constexpr int kReviewMaxHeight = 576;

// A picture in the frame layout: packed BGR rows, bottom row first, no padding.
struct ReviewPicture
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// Decodes a JPEG file to exactly `width` x `height` (scaled when it differs), or, with width 0,
// to its own size made to fit `maxWidth` x `maxHeight` (never enlarged, shape kept). False when
// the file cannot be read or is no JPEG; a picture whose end is cut off still decodes.
class ReviewDecoder
{
public:
    ReviewDecoder();
    ~ReviewDecoder();
    ReviewDecoder(const ReviewDecoder &) = delete;
    ReviewDecoder &operator=(const ReviewDecoder &) = delete;

    enum class Result { Ok, Unreadable, NotScaled };
    Result Load(const std::filesystem::path &file, int width, int height, int maxWidth,
                int maxHeight, ReviewPicture &picture);

private:
    void *m_handle = nullptr;
    std::vector<uint8_t> m_jpeg;
};

// Review mode (UI thread): shows stored motion snapshots, or camera 1's time-lapse pictures,
// in the cameras' live frame buffers, so the normal painting shows them; Backspace and Space
// step through them. The view core forwards command 162, the keys and the tile clicks.
class Review
{
public:
    explicit Review(ServerContext &context);

    // Command 162: in or out of review mode.
    void ToggleReviewMode();
    // Loads and shows the current picture of the review camera (0: of every camera).
    void ShowReviewImages();
    // A tile click made `camera` the review camera.
    void ShowReviewImages(int camera);
    // A character typed in the view; `shift` while Shift is down.
    void OnReviewKey(int key, bool shift);

    // The text of menu item 162 now.
    std::string_view MenuText() const;
    bool TimeLapseReview() const { return m_timeLapse; }
    // The picture number of a camera (0: the slot of review camera 0).
    int32_t PictureNumber(int camera) const;

    // The Select Review Mode dialog: false on Cancel, else `motion` says which pictures.
    // Unset, the stored choice stands.
    std::function<bool(bool &motion)> AskReviewKind;

private:
    bool ShowsTimeLapse(int camera) const;
    int32_t Limit(int camera) const;
    int32_t Newest(int camera) const;
    std::filesystem::path PictureFile(int camera) const;
    void Enter();
    void Leave();
    void SetDisplaySize(int width, int height);

    ServerContext &m_context;
    ReviewDecoder m_decoder;
    ReviewPicture m_picture;
    bool m_timeLapse = false;
    PerCamera<int32_t> m_numbers { 1, 1, 1, 1, 1 };
    int m_savedWidth = 0;
    int m_savedHeight = 0;
};

} // namespace vorlund
