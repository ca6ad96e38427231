#include "platform/x11/x11_frame_source.hpp"

#include <poll.h>
#include <time.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/media/host_clock.hpp"
#include "platform/x11/desktop_picture.hpp"
#include "platform/x11/frame_grid.hpp"

namespace yux::platform {

namespace {

// Pictures per second when the server does not report its refresh rate (Xvfb reports none).
constexpr std::int32_t kFallbackRefreshRate = 60;
// Longest single wait for the server, so that a stop is seen soon even on a slow grid.
constexpr std::int64_t kLongestWaitNanoseconds = 50'000'000;
// Pictures beyond the queue depth: the consumer may keep the last picture of a recording
// for its tail while new ones are in flight.
constexpr int kSpareSlots = 2;
// After the root changed in the region, its background is read again at most this often: a new
// background is announced by nobody, and until read it is missing only under our own windows
// (elsewhere the root's damage brings it at once), where alone it is read.
constexpr std::int64_t kDesktopRefreshNanoseconds = 1'000'000'000;

struct IdRange {
    std::uint32_t base;
    std::uint32_t mask;
    bool contains(std::uint32_t id) const { return (id & ~mask) == base; }
};

IdRange rangeOf(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    return {setup->resource_id_base, setup->resource_id_mask};
}

// The id range of the toolkit's own X connection, whose windows are this process's.
std::optional<IdRange> toolkitIdRange() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) return std::nullopt;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) return std::nullopt;
    return rangeOf(x11->connection());
}

// Shared-memory segments the server writes pictures into. A delivered picture wraps its
// segment and gives it back when the last copy of the picture is gone, which may be after
// the source stopped; the pool lives as long as any picture does.
class ShmPool {
public:
    struct Slot {
        xcb_shm_seg_t segment = 0;
        std::uint8_t* data = nullptr;
    };

    ShmPool(xcb_connection_t* connection, std::size_t bytes, int count) {
        for (int i = 0; i < count; ++i) {
            int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
            if (id < 0) throw std::runtime_error("Cannot create shared memory for screen pictures.");
            void* address = shmat(id, nullptr, 0);
            if (address == reinterpret_cast<void*>(-1)) {
                shmctl(id, IPC_RMID, nullptr);
                throw std::runtime_error("Cannot map shared memory for screen pictures.");
            }
            Slot slot{xcb_generate_id(connection), static_cast<std::uint8_t*>(address)};
            auto cookie = xcb_shm_attach_checked(connection, slot.segment, static_cast<std::uint32_t>(id), 0);
            XcbReply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
            // Marked for removal now: the segment disappears once both sides detach.
            shmctl(id, IPC_RMID, nullptr);
            if (error) {
                shmdt(address);
                throw std::runtime_error("The X server cannot share memory with this program.");
            }
            slots_.push_back(slot);
            free_.push_back(i);
        }
    }
    ~ShmPool() {
        for (auto& slot : slots_) shmdt(slot.data);
    }

    std::optional<int> take() {
        std::lock_guard lock(mutex_);
        if (free_.empty()) return std::nullopt;
        int index = free_.back();
        free_.pop_back();
        return index;
    }
    void give(int index) {
        std::lock_guard lock(mutex_);
        free_.push_back(index);
    }
    const Slot& slot(int index) const { return slots_[static_cast<std::size_t>(index)]; }
    int size() const { return static_cast<int>(slots_.size()); }

private:
    std::mutex mutex_;
    std::vector<Slot> slots_;
    std::vector<int> free_;
};

struct TopLevel {
    xcb_window_t id = 0;
    PixelRect rect;  // inside the border
    bool viewable = false;
    bool overrideRedirect = false;
    xcb_visualid_t visual = 0;
};

struct ClientInfo {
    bool resolved = false;
    xcb_window_t client = 0;
    std::optional<std::int32_t> processID;
    std::string applicationClass;
    std::optional<xcb_window_t> transientFor;
};

struct CursorState {
    XcbReply<xcb_xfixes_get_cursor_image_reply_t> image;
    int x = 0;
    int y = 0;
    std::uint32_t serial = 0;
};

bool overlaps(const PixelRect& a, const PixelRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

PixelRect cursorRect(const xcb_xfixes_get_cursor_image_reply_t& cursor) {
    return {cursor.x - cursor.xhot, cursor.y - cursor.yhot, cursor.width, cursor.height};
}

// Premultiplied ARGB cursor over a BGRA picture.
void drawCursor(const xcb_xfixes_get_cursor_image_reply_t& cursor, const PixelRect& region, std::uint8_t* data,
                std::size_t stride) {
    const std::uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(&cursor);
    int left = cursor.x - cursor.xhot - region.x;
    int top = cursor.y - cursor.yhot - region.y;
    for (int row = 0; row < cursor.height; ++row) {
        int y = top + row;
        if (y < 0 || y >= region.height) continue;
        for (int column = 0; column < cursor.width; ++column) {
            int x = left + column;
            if (x < 0 || x >= region.width) continue;
            std::uint32_t argb = pixels[row * cursor.width + column];
            std::uint32_t alpha = argb >> 24;
            if (alpha == 0) continue;
            std::uint8_t* pixel = data + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4;
            std::uint32_t keep = 255 - alpha;
            pixel[0] = static_cast<std::uint8_t>((argb & 0xff) + pixel[0] * keep / 255);
            pixel[1] = static_cast<std::uint8_t>(((argb >> 8) & 0xff) + pixel[1] * keep / 255);
            pixel[2] = static_cast<std::uint8_t>(((argb >> 16) & 0xff) + pixel[2] * keep / 255);
            pixel[3] = 255;
        }
    }
}

// The parts of each painted picture that no longer show what a painting now would (XFixes
// regions on the server, in picture coordinates). A buffer keeps its pixels between uses, so
// painting it again where it is stale is enough: a video in a window repaints that window only.
class StaleParts {
public:
    StaleParts(xcb_connection_t* connection, int width, int height)
        : c_(connection), all_{0, 0, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)} {
        changed_ = region(0, nullptr);
        scratch_ = region(0, nullptr);
    }

    // Something changed in `parts`, moved by (dx, dy) into picture coordinates.
    void add(xcb_xfixes_region_t parts, int dx, int dy) {
        xcb_xfixes_copy_region(c_, parts, scratch_);
        xcb_xfixes_translate_region(c_, scratch_, static_cast<std::int16_t>(dx), static_cast<std::int16_t>(dy));
        xcb_xfixes_union_region(c_, changed_, scratch_, changed_);
    }
    void addArea(const PixelRect& area) {
        const xcb_rectangle_t rectangle{static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
                                        static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height)};
        xcb_xfixes_set_region(c_, scratch_, 1, &rectangle);
        xcb_xfixes_union_region(c_, changed_, scratch_, changed_);
    }
    void addEverywhere() { everywhere_ = true; }
    // What `picture` lacks now; it counts as painted from here on.
    xcb_xfixes_region_t take(xcb_render_picture_t picture) {
        for (auto& [_, parts] : pictures_) {
            if (everywhere_) {
                xcb_xfixes_set_region(c_, parts, 1, &all_);
            } else {
                xcb_xfixes_union_region(c_, parts, changed_, parts);
            }
        }
        xcb_xfixes_set_region(c_, changed_, 0, nullptr);
        everywhere_ = false;
        auto [entry, added] = pictures_.try_emplace(picture, XCB_NONE);
        if (added) entry->second = region(1, &all_);  // never painted
        xcb_xfixes_copy_region(c_, entry->second, scratch_);
        xcb_xfixes_set_region(c_, entry->second, 0, nullptr);
        return scratch_;
    }
    // `picture` was drawn on after painting (the cursor), within `area`.
    void spoil(xcb_render_picture_t picture, const xcb_rectangle_t& area) {
        if (auto found = pictures_.find(picture); found != pictures_.end()) {
            xcb_xfixes_set_region(c_, scratch_, 1, &area);
            xcb_xfixes_union_region(c_, found->second, scratch_, found->second);
        }
    }

private:
    xcb_xfixes_region_t region(std::uint32_t count, const xcb_rectangle_t* rectangles) {
        xcb_xfixes_region_t id = xcb_generate_id(c_);
        xcb_xfixes_create_region(c_, id, count, rectangles);
        return id;
    }

    xcb_connection_t* c_;
    xcb_rectangle_t all_;
    xcb_xfixes_region_t changed_;  // since the last take
    xcb_xfixes_region_t scratch_;
    bool everywhere_ = true;
    std::map<xcb_render_picture_t, xcb_xfixes_region_t> pictures_;
};

}  // namespace

struct X11FrameSource::Impl {
    FrameSourceSettings settings;
    Deliver deliver;
    Log log;
    Failure failure;

    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> composite{false};
    std::atomic<std::int64_t> delivered{0};
    std::atomic<std::int64_t> looks{0};

    std::unique_ptr<X11Connection> connection;
    std::shared_ptr<ShmPool> pool;
    std::vector<IdRange> ownRanges;
    MediaTime interval;
    std::optional<FrameGrid> grid;

    xcb_damage_damage_t damage = 0;
    bool hasDamage = false;
    bool damageNotified = false;
    bool windowDrawn = false;  // a composited window drew inside the region
    // With a region smaller than the screen, damage is cut to it (XFixes regions), so changes
    // elsewhere take no picture.
    xcb_xfixes_region_t recordedRegion = XCB_NONE;
    // What the root's damage covered when last taken (XFixes 2): the parts of the desktop to copy.
    xcb_xfixes_region_t damagedParts = XCB_NONE;
    bool cursorDirty = false;

    // Composite state.
    xcb_pixmap_t canvas = 0;
    xcb_render_picture_t canvasPicture = 0;
    // With shared pixmaps the windows are painted straight into the shared memory of each
    // buffer, which saves reading the picture back: one full copy less per picture.
    std::vector<xcb_render_picture_t> slotPictures;
    // Under the windows of display and area pictures; none for an application's (black).
    std::unique_ptr<DesktopPicture> desktop;
    MediaTime desktopRefreshDue = MediaTime::invalid();
    bool desktopStale = false;  // the root drew in the region since the background was read
    xcb_atom_t wallpaperAtom = XCB_ATOM_NONE;
    // With Damage and XFixes 2, pictures are painted only where they are stale.
    std::optional<StaleParts> stale;
    std::map<xcb_visualid_t, xcb_render_pictformat_t> visualFormats;
    std::set<xcb_render_pictformat_t> alphaFormats;
    bool hasRegions = false;  // XFixes 2: clip painting to what is visible
    xcb_render_pictformat_t argbFormat = 0;
    // What the pictures are painted in: ARGB when the fourth byte must be 255, else the
    // screen's own format, which the server copies four times faster than it converts.
    std::uint8_t canvasDepth = 32;
    xcb_render_pictformat_t canvasFormat = 0;
    std::map<xcb_window_t, xcb_render_picture_t> windowPictures;
    std::map<xcb_window_t, ClientInfo> clients;
    std::vector<TopLevel> tree;
    bool treeDirty = true;
    // Damage of each top-level window: what a window draws where others cover it never
    // reaches the screen, yet shows in the pictures painted from its own contents.
    std::map<xcb_window_t, xcb_damage_damage_t> windowDamage;
    bool screenDirty = true;
    bool hasFixes = false;
    CursorState cursor;

    xcb_connection_t* c() const { return connection->raw(); }

    // What lives on the connection goes first.
    void disconnect() {
        desktop.reset();
        connection.reset();
    }

    void setUp() {
        connection = X11Connection::open(settings.display.empty() ? nullptr : settings.display.c_str());
        ownRanges.push_back(rangeOf(c()));
        if (auto range = toolkitIdRange()) ownRanges.push_back(*range);

        const MediaTime wanted = settings.minimumFrameInterval;
        if (wanted.isValid() && wanted.value > 0) {
            interval = wanted;
        } else {
            auto rate = static_cast<std::int32_t>(std::lround(screenRefreshRate(*connection)));
            interval = MediaTime(1, rate > 0 ? rate : kFallbackRefreshRate);
        }

        if (!connection->hasExtension("MIT-SHM")) {
            throw std::runtime_error("The X server lacks shared memory (MIT-SHM); the screen cannot be recorded.");
        }
        const auto& region = settings.region;
        pool = std::make_shared<ShmPool>(c(), static_cast<std::size_t>(region.width) * region.height * 4,
                                         std::max(1, settings.queueDepth) + kSpareSlots);

        hasFixes = connection->hasExtension("XFIXES");
        if (hasFixes) {
            XcbReply<xcb_xfixes_query_version_reply_t> fixes(
                xcb_xfixes_query_version_reply(c(), xcb_xfixes_query_version(c(), 4, 0), nullptr));
            hasFixes = fixes != nullptr;
            hasRegions = fixes && fixes->major_version >= 2;
        }
        hasDamage = connection->hasExtension("DAMAGE");
        if (hasDamage) {
            XcbReply<xcb_damage_query_version_reply_t> version(
                xcb_damage_query_version_reply(c(), xcb_damage_query_version(c(), 1, 1), nullptr));
            hasDamage = version != nullptr;
        }
        bool canComposite = connection->hasExtension("Composite") && connection->hasExtension("RENDER");
        if (canComposite) {
            XcbReply<xcb_composite_query_version_reply_t> version(
                xcb_composite_query_version_reply(c(), xcb_composite_query_version(c(), 0, 4), nullptr));
            canComposite = version && (version->major_version > 0 || version->minor_version >= 2);
        }
        // Damage first: redirecting repaints windows, and those repaints must reach us.
        if (hasDamage) {
            damage = xcb_generate_id(c());
            xcb_damage_create(c(), damage, connection->root(), XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            const auto* screen = connection->screen();
            const bool wholeScreen = region.x <= 0 && region.y <= 0 &&
                                     region.x + region.width >= screen->width_in_pixels &&
                                     region.y + region.height >= screen->height_in_pixels;
            if (hasRegions) {
                damagedParts = xcb_generate_id(c());
                xcb_xfixes_create_region(c(), damagedParts, 0, nullptr);
            }
            if (hasRegions && !wholeScreen) {
                xcb_rectangle_t area{static_cast<std::int16_t>(region.x), static_cast<std::int16_t>(region.y),
                                     static_cast<std::uint16_t>(region.width),
                                     static_cast<std::uint16_t>(region.height)};
                recordedRegion = xcb_generate_id(c());
                xcb_xfixes_create_region(c(), recordedRegion, 1, &area);
            }
        }
        if (canComposite) {
            setUpComposite();
        } else if (log) {
            log("capture_composite_missing own windows may show in the recording");
        }
        composite = canComposite;
        if (canComposite) setUpSharedCanvases();
        if (canComposite && hasDamage && hasRegions) stale.emplace(c(), region.width, region.height);

        // Property changes announce a new wallpaper.
        const std::uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c(), connection->root(), XCB_CW_EVENT_MASK, &events);
        xcb_flush(c());
    }

    // Whether pixmaps of the screen's depth store four bytes a pixel, as pictures do.
    bool screenPixelsTakeFourBytes() const {
        const xcb_setup_t* setup = xcb_get_setup(c());
        if (setup == nullptr) return false;  // the connection broke: the set-up fails further on
        for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0; xcb_format_next(&formats)) {
            if (formats.data->depth == connection->screen()->root_depth) return formats.data->bits_per_pixel == 32;
        }
        return false;
    }

    void setUpSharedCanvases() {
        XcbReply<xcb_shm_query_version_reply_t> shm(xcb_shm_query_version_reply(c(), xcb_shm_query_version(c()), nullptr));
        if (!shm || shm->shared_pixmaps == 0 || shm->pixmap_format != XCB_IMAGE_FORMAT_Z_PIXMAP) return;
        const auto& region = settings.region;
        std::vector<xcb_render_picture_t> pictures;
        for (int i = 0; i < pool->size(); ++i) {
            xcb_pixmap_t pixmap = xcb_generate_id(c());
            auto cookie = xcb_shm_create_pixmap_checked(c(), pixmap, connection->root(),
                                                        static_cast<std::uint16_t>(region.width),
                                                        static_cast<std::uint16_t>(region.height), canvasDepth,
                                                        pool->slot(i).segment, 0);
            XcbReply<xcb_generic_error_t> error(xcb_request_check(c(), cookie));
            if (error) return;  // read back from the one canvas instead
            xcb_render_picture_t picture = xcb_generate_id(c());
            xcb_render_create_picture(c(), picture, pixmap, canvasFormat, 0, nullptr);
            xcb_free_pixmap(c(), pixmap);  // the picture keeps it
            pictures.push_back(picture);
        }
        slotPictures = std::move(pictures);
    }

    void setUpComposite() {
        // Automatic redirection keeps every window's contents off screen for us to read, while
        // the server still shows the screen as before.
        xcb_composite_redirect_subwindows(c(), connection->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC);

        XcbReply<xcb_render_query_version_reply_t> render(
            xcb_render_query_version_reply(c(), xcb_render_query_version(c(), 0, 11), nullptr));
        XcbReply<xcb_render_query_pict_formats_reply_t> formats(
            xcb_render_query_pict_formats_reply(c(), xcb_render_query_pict_formats(c()), nullptr));
        if (!formats) throw std::runtime_error("The X server does not list its picture formats.");
        for (auto screens = xcb_render_query_pict_formats_screens_iterator(formats.get()); screens.rem > 0;
             xcb_render_pictscreen_next(&screens)) {
            for (auto depths = xcb_render_pictscreen_depths_iterator(screens.data); depths.rem > 0;
                 xcb_render_pictdepth_next(&depths)) {
                for (auto visuals = xcb_render_pictdepth_visuals_iterator(depths.data); visuals.rem > 0;
                     xcb_render_pictvisual_next(&visuals)) {
                    visualFormats[visuals.data->visual] = visuals.data->format;
                }
            }
        }
        for (auto it = xcb_render_query_pict_formats_formats_iterator(formats.get()); it.rem > 0;
             xcb_render_pictforminfo_next(&it)) {
            const auto& info = *it.data;
            if (info.type == XCB_RENDER_PICT_TYPE_DIRECT && info.direct.alpha_mask != 0) alphaFormats.insert(info.id);
            if (info.type == XCB_RENDER_PICT_TYPE_DIRECT && info.depth == 32 && info.direct.alpha_mask == 0xff &&
                info.direct.alpha_shift == 24 && info.direct.red_shift == 16 && info.direct.blue_shift == 0) {
                argbFormat = info.id;
            }
        }
        if (argbFormat == 0) throw std::runtime_error("The X server has no 32-bit picture format.");

        // An ARGB canvas makes every painted pixel opaque: its bytes are BGRA as read.
        canvasDepth = 32;
        canvasFormat = argbFormat;
        if (!settings.fillsAlpha && screenPixelsTakeFourBytes()) {
            if (auto screenFormat = visualFormats.find(connection->screen()->root_visual);
                screenFormat != visualFormats.end()) {
                canvasDepth = connection->screen()->root_depth;
                canvasFormat = screenFormat->second;
            }
        }
        const auto& region = settings.region;
        canvas = xcb_generate_id(c());
        xcb_create_pixmap(c(), canvasDepth, canvas, connection->root(), static_cast<std::uint16_t>(region.width),
                          static_cast<std::uint16_t>(region.height));
        canvasPicture = xcb_generate_id(c());
        xcb_render_create_picture(c(), canvasPicture, canvas, canvasFormat, 0, nullptr);

        setUpDesktop();
    }

    // The desktop goes under every picture but an application's, which shows its windows only.
    void setUpDesktop() {
        if (settings.windows.mode != WindowSelection::Mode::excluding) return;
        auto rootFormat = visualFormats.find(connection->screen()->root_visual);
        if (rootFormat == visualFormats.end()) return;
        wallpaperAtom = connection->atom("_XROOTPMAP_ID");
        const bool composited = connection->selectionOwned("_NET_WM_CM_S" + std::to_string(connection->screenNumber()));
        try {
            desktop = std::make_unique<DesktopPicture>(*connection, settings.region, rootFormat->second, composited);
        } catch (const std::runtime_error& error) {
            if (log) log(std::string("capture_desktop_missing ") + error.what());
        }
        desktopRefreshDue = hostTimeNow() + MediaTime(kDesktopRefreshNanoseconds, MediaTime::kNanosecondScale);
    }

    // Brings the desktop up to date with what the root window itself shows in `changed` (the
    // root's damage; none means everywhere).
    void followRoot(xcb_xfixes_region_t changed) {
        if (desktop && desktop->followsRoot()) desktop->followRoot(changed);
    }

    // Reads the background again, when the root drew since and the last reading is old
    // enough, where the pictures show the desktop but the screen a window; a picture is taken
    // when there is such a place.
    void refreshDesktopWhenDue() {
        if (!desktop || !desktopStale || hostTimeNow() < desktopRefreshDue) return;
        const auto parts = desktopOnlyInPictures();
        desktop->refreshUnder(parts);
        for (const auto& part : parts) {
            if (stale) stale->addArea(part);
            screenDirty = true;
        }
        desktopFresh();
    }

    void refreshDesktop() {
        desktop->refresh();
        if (stale) stale->addEverywhere();
        screenDirty = true;
        desktopFresh();
    }

    void desktopFresh() {
        desktopStale = false;
        desktopRefreshDue = hostTimeNow() + MediaTime(kDesktopRefreshNanoseconds, MediaTime::kNanosecondScale);
    }

    // Under the windows the pictures leave out, and under those that let it show through, in
    // picture coordinates.
    std::vector<PixelRect> desktopOnlyInPictures() {
        std::set<const TopLevel*> covering;
        for (const TopLevel* top : selectedWindows()) {
            if (opaque(*top)) covering.insert(top);
        }
        const auto& region = settings.region;
        std::vector<PixelRect> parts;
        for (const auto& top : tree) {
            if (!top.viewable || !intersectsRegion(top.rect) || covering.contains(&top)) continue;
            parts.push_back({top.rect.x - region.x, top.rect.y - region.y, top.rect.width, top.rect.height});
        }
        return parts;
    }

    bool ownWindow(xcb_window_t id) const {
        return std::any_of(ownRanges.begin(), ownRanges.end(), [id](const IdRange& r) { return r.contains(id); });
    }

    XcbReply<xcb_get_property_reply_t> property(xcb_window_t window, xcb_atom_t atom, xcb_atom_t type,
                                                std::uint32_t length) {
        return XcbReply<xcb_get_property_reply_t>(
            xcb_get_property_reply(c(), xcb_get_property(c(), 0, window, atom, type, 0, length), nullptr));
    }

    // The window inside a window manager frame that carries WM_STATE, searched two levels down.
    xcb_window_t findClient(xcb_window_t window, int depth) {
        const xcb_atom_t wmState = connection->atom("WM_STATE");
        auto state = property(window, wmState, XCB_ATOM_ANY, 0);
        if (state && state->type != XCB_ATOM_NONE) return window;
        if (depth == 0) return 0;
        XcbReply<xcb_query_tree_reply_t> children(xcb_query_tree_reply(c(), xcb_query_tree(c(), window), nullptr));
        if (!children) return 0;
        xcb_window_t* list = xcb_query_tree_children(children.get());
        for (int i = 0; i < xcb_query_tree_children_length(children.get()); ++i) {
            if (xcb_window_t found = findClient(list[i], depth - 1)) return found;
        }
        return 0;
    }

    ClientInfo resolve(const TopLevel& top) {
        ClientInfo info;
        xcb_window_t client = top.overrideRedirect ? top.id : findClient(top.id, 2);
        info.resolved = client != 0 || top.overrideRedirect;
        info.client = client != 0 ? client : top.id;
        if (auto pid = property(info.client, connection->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
            pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) >= 4) {
            info.processID = *static_cast<const std::int32_t*>(xcb_get_property_value(pid.get()));
        } else if (client != 0) {
            // Not a window manager's frame: its creator is the application itself.
            info.processID = clientProcessIDs(*connection, {info.client}).front();
        }
        if (auto cls = property(info.client, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256); cls && cls->format == 8) {
            std::string bytes(static_cast<const char*>(xcb_get_property_value(cls.get())),
                              static_cast<std::size_t>(xcb_get_property_value_length(cls.get())));
            if (auto split = bytes.find('\0'); split != std::string::npos) {
                std::string rest = bytes.substr(split + 1);
                info.applicationClass = rest.substr(0, rest.find('\0'));
            }
        }
        if (auto transient = property(info.client, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 1);
            transient && transient->format == 32 && xcb_get_property_value_length(transient.get()) >= 4) {
            info.transientFor = *static_cast<const std::uint32_t*>(xcb_get_property_value(transient.get()));
        }
        return info;
    }

    void refreshTree() {
        XcbReply<xcb_query_tree_reply_t> reply(
            xcb_query_tree_reply(c(), xcb_query_tree(c(), connection->root()), nullptr));
        if (!reply) return;
        const xcb_window_t* children = xcb_query_tree_children(reply.get());
        int count = xcb_query_tree_children_length(reply.get());
        std::vector<xcb_get_window_attributes_cookie_t> attributes;
        std::vector<xcb_get_geometry_cookie_t> geometries;
        for (int i = 0; i < count; ++i) {
            attributes.push_back(xcb_get_window_attributes(c(), children[i]));
            geometries.push_back(xcb_get_geometry(c(), children[i]));
        }
        std::vector<TopLevel> fresh;
        for (int i = 0; i < count; ++i) {
            XcbReply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c(), attributes[i], nullptr));
            XcbReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c(), geometries[i], nullptr));
            if (!a || !g || a->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
            TopLevel top;
            top.id = children[i];
            top.rect = {g->x + g->border_width, g->y + g->border_width, g->width, g->height};
            top.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
            top.overrideRedirect = a->override_redirect != 0;
            top.visual = a->visual;
            fresh.push_back(top);
        }
        tree = std::move(fresh);
        std::set<xcb_window_t> alive;
        for (const auto& top : tree) {
            alive.insert(top.id);
            if (!top.viewable) continue;
            auto& info = clients[top.id];
            if (!info.resolved) info = resolve(top);
        }
        std::erase_if(clients, [&](const auto& entry) { return !alive.contains(entry.first); });
        for (auto it = windowPictures.begin(); it != windowPictures.end();) {
            if (!alive.contains(it->first)) {
                it = windowPictures.erase(it);
            } else {
                ++it;
            }
        }
        // A window's damage goes with the window itself.
        std::erase_if(windowDamage, [&](const auto& entry) { return !alive.contains(entry.first); });
        if (hasDamage) {
            for (const auto& top : tree) {
                if (!top.viewable || windowDamage.contains(top.id)) continue;
                xcb_damage_damage_t watch = xcb_generate_id(c());
                xcb_damage_create(c(), watch, top.id, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                windowDamage[top.id] = watch;
            }
        }
        treeDirty = false;
    }

    bool intersectsRegion(const PixelRect& r) const {
        const auto& region = settings.region;
        return r.x < region.x + region.width && r.y < region.y + region.height && r.x + r.width > region.x &&
               r.y + r.height > region.y;
    }

    // A window of this process that the pictures leave out: its drawing changes nothing.
    bool leftOutAsOwn(const TopLevel& top) {
        if (!settings.windows.excludeThisProcess) return false;
        if (ownWindow(top.id)) return true;
        auto found = clients.find(top.id);
        return found != clients.end() && ownWindow(found->second.client);
    }

    // The windows painted, bottom to top.
    std::vector<const TopLevel*> selectedWindows() {
        const auto& selection = settings.windows;
        const std::int32_t self = getpid();
        std::vector<const TopLevel*> chosen;
        auto listed = [&](std::optional<std::int32_t> pid) {
            return pid && std::find(selection.processIDs.begin(), selection.processIDs.end(), *pid) !=
                              selection.processIDs.end();
        };
        auto mine = [&](const TopLevel& top, const ClientInfo& info) {
            return selection.excludeThisProcess &&
                   ((info.processID && *info.processID == self) || ownWindow(top.id) || ownWindow(info.client));
        };
        if (selection.mode == WindowSelection::Mode::excluding) {
            for (const auto& top : tree) {
                if (!top.viewable) continue;
                const auto& info = clients[top.id];
                if (listed(info.processID) || mine(top, info)) continue;
                chosen.push_back(&top);
            }
            return chosen;
        }
        std::set<std::int32_t> processes;
        std::set<xcb_window_t> matchedClients;
        for (const auto& top : tree) {
            const auto& info = clients[top.id];
            if (std::find(selection.applicationClasses.begin(), selection.applicationClasses.end(),
                          info.applicationClass) != selection.applicationClasses.end() &&
                !info.applicationClass.empty()) {
                matchedClients.insert(info.client);
                if (info.processID) processes.insert(*info.processID);
            }
        }
        for (const auto& top : tree) {
            if (!top.viewable) continue;
            const auto& info = clients[top.id];
            bool included = matchedClients.contains(info.client) ||
                            (info.processID && processes.contains(*info.processID)) ||
                            (info.transientFor && matchedClients.contains(*info.transientFor));
            if (included && !mine(top, info)) chosen.push_back(&top);
        }
        return chosen;
    }

    xcb_render_picture_t pictureFor(const TopLevel& top) {
        if (auto found = windowPictures.find(top.id); found != windowPictures.end()) return found->second;
        auto format = visualFormats.find(top.visual);
        if (format == visualFormats.end()) return 0;
        xcb_render_picture_t picture = xcb_generate_id(c());
        const std::uint32_t includeInferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
        xcb_render_create_picture(c(), picture, top.id, format->second, XCB_RENDER_CP_SUBWINDOW_MODE,
                                  &includeInferiors);
        windowPictures[top.id] = picture;
        return picture;
    }

    bool opaque(const TopLevel& top) const {
        auto format = visualFormats.find(top.visual);
        return format != visualFormats.end() && !alphaFormats.contains(format->second);
    }

    // Paints every pixel once: walking down from the top window, each window is clipped to
    // what the opaque windows above it leave visible, and the desktop picture fills the rest.
    // Within `within` (picture coordinates; none means everywhere).
    void paintCanvas(xcb_render_picture_t canvasPicture, xcb_xfixes_region_t within) {
        const auto& region = settings.region;
        std::vector<const TopLevel*> windows;
        for (const TopLevel* top : selectedWindows()) {
            if (intersectsRegion(top->rect)) windows.push_back(top);
        }
        std::vector<xcb_xfixes_region_t> clips(windows.size(), XCB_NONE);
        xcb_xfixes_region_t visible = XCB_NONE;
        if (hasRegions) {
            visible = xcb_generate_id(c());
            xcb_rectangle_t all{0, 0, static_cast<std::uint16_t>(region.width), static_cast<std::uint16_t>(region.height)};
            xcb_xfixes_create_region(c(), visible, 1, &all);
            if (within != XCB_NONE) xcb_xfixes_intersect_region(c(), visible, within, visible);
            for (std::size_t i = windows.size(); i-- > 0;) {
                const auto& r = windows[i]->rect;
                xcb_rectangle_t area{static_cast<std::int16_t>(r.x - region.x), static_cast<std::int16_t>(r.y - region.y),
                                     static_cast<std::uint16_t>(r.width), static_cast<std::uint16_t>(r.height)};
                clips[i] = xcb_generate_id(c());
                xcb_xfixes_create_region(c(), clips[i], 1, &area);
                xcb_xfixes_intersect_region(c(), visible, clips[i], clips[i]);
                if (opaque(*windows[i])) {
                    xcb_xfixes_region_t covered = xcb_generate_id(c());
                    xcb_xfixes_create_region(c(), covered, 1, &area);
                    xcb_xfixes_subtract_region(c(), visible, covered, visible);
                    xcb_xfixes_destroy_region(c(), covered);
                }
            }
            xcb_xfixes_set_picture_clip_region(c(), canvasPicture, visible, 0, 0);
        }
        if (desktop) {
            desktop->paint(canvasPicture);
        } else {
            xcb_render_color_t black{0, 0, 0, 0xffff};
            xcb_rectangle_t all{0, 0, static_cast<std::uint16_t>(region.width), static_cast<std::uint16_t>(region.height)};
            xcb_render_fill_rectangles(c(), XCB_RENDER_PICT_OP_SRC, canvasPicture, black, 1, &all);
        }
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const TopLevel* top = windows[i];
            const auto& r = top->rect;
            xcb_render_picture_t picture = pictureFor(*top);
            if (picture == 0) continue;
            if (hasRegions) xcb_xfixes_set_picture_clip_region(c(), canvasPicture, clips[i], 0, 0);
            // Opaque windows are copied; windows with alpha blend over what lies beneath.
            xcb_render_composite(c(), opaque(*top) ? XCB_RENDER_PICT_OP_SRC : XCB_RENDER_PICT_OP_OVER, picture,
                                 XCB_NONE, canvasPicture, 0, 0, 0, 0, static_cast<std::int16_t>(r.x - region.x),
                                 static_cast<std::int16_t>(r.y - region.y), static_cast<std::uint16_t>(r.width),
                                 static_cast<std::uint16_t>(r.height));
        }
        if (hasRegions) {
            xcb_xfixes_set_picture_clip_region(c(), canvasPicture, XCB_NONE, 0, 0);
            for (auto clip : clips) xcb_xfixes_destroy_region(c(), clip);
            xcb_xfixes_destroy_region(c(), visible);
        }
    }

    void handleEvents() {
        // A connection that broke while a reply was awaited knows not even its extensions now.
        if (xcb_connection_has_error(c()) != 0) throw std::runtime_error(kConnectionLost);
        const std::uint8_t damageEvent = hasDamage ? xcb_get_extension_data(c(), &xcb_damage_id)->first_event : 0;
        while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c())}) {
            std::uint8_t type = event->response_type & 0x7f;
            if (type == 0) continue;  // errors of windows that vanished meanwhile
            if (hasDamage && type == damageEvent + XCB_DAMAGE_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_damage_notify_event_t*>(event.get());
                if (notify->damage == damage) {
                    damageNotified = true;
                } else {
                    // Taken at once, so the window reports its next drawing too.
                    xcb_damage_subtract(c(), notify->damage, XCB_NONE, stale ? damagedParts : XCB_NONE);
                    auto top = std::find_if(tree.begin(), tree.end(),
                                            [&](const TopLevel& t) { return t.id == notify->drawable; });
                    if (top != tree.end() && overlaps(top->rect, settings.region) && !leftOutAsOwn(*top)) {
                        windowDrawn = true;
                        if (stale) stale->add(damagedParts, top->rect.x - settings.region.x, top->rect.y - settings.region.y);
                    }
                }
                continue;
            }
            if (type == XCB_PROPERTY_NOTIFY) {
                if (desktop && reinterpret_cast<const xcb_property_notify_event_t*>(event.get())->atom == wallpaperAtom) {
                    refreshDesktop();
                }
                continue;
            }
            switch (type) {
            case XCB_MAP_NOTIFY:
                clients.erase(reinterpret_cast<xcb_map_notify_event_t*>(event.get())->window);
                break;
            case XCB_REPARENT_NOTIFY:
                clients.erase(reinterpret_cast<xcb_reparent_notify_event_t*>(event.get())->window);
                break;
            default:
                break;
            }
            treeDirty = true;
            // Windows came, went or moved: every picture is painted whole.
            if (stale) stale->addEverywhere();
            // With Damage, what changed on screen is reported as damage; windows that change
            // elsewhere take no picture.
            if (!hasDamage) screenDirty = true;
        }
        if (xcb_connection_has_error(c()) != 0) throw std::runtime_error(kConnectionLost);
    }

    static constexpr const char* kConnectionLost = "The connection to the X server was lost while recording.";
    // A reply that never came because the server went away mid-picture says that, not `what`.
    [[noreturn]] void pictureFailed(const char* what) {
        throw std::runtime_error(xcb_connection_has_error(c()) != 0 ? kConnectionLost : what);
    }

    // Whether the recorded region changed since the last look; damage elsewhere is dropped.
    bool regionDamaged() {
        if (!hasDamage) return true;  // a still screen cannot be told: every slot is a picture
        if (windowDrawn) {
            windowDrawn = false;
            if (damageNotified) {
                damageNotified = false;
                takeRootDamage();
                // The root may have drawn too: which drew what is not told apart.
                desktopStale = true;
            }
            return true;
        }
        if (!damageNotified) return false;
        damageNotified = false;
        takeRootDamage();
        bool inRegion = true;
        if (recordedRegion != XCB_NONE) {
            xcb_xfixes_intersect_region(c(), damagedParts, recordedRegion, damagedParts);
            XcbReply<xcb_xfixes_fetch_region_reply_t> parts(
                xcb_xfixes_fetch_region_reply(c(), xcb_xfixes_fetch_region(c(), damagedParts), nullptr));
            inRegion = !parts || (parts->extents.width > 0 && parts->extents.height > 0);
        }
        // Damage that no window's drawing explains: the root may have drawn itself.
        desktopStale = desktopStale || inRegion;
        return inRegion;
    }

    // Takes what the server has reported changed so far as seen: the picture taken next shows
    // it. Each new damage object reports its whole window at once, which would otherwise take
    // a second picture of the same pixels at the next slot.
    void takeChangesSoFar() {
        if (composite && treeDirty) refreshTree();  // makes the windows' damage objects
        XcbReply<xcb_get_input_focus_reply_t> synced(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr));
        handleEvents();
        regionDamaged();
    }

    // Takes the root's damage so that it reports the next change, and copies what the root
    // itself drew there into the desktop.
    void takeRootDamage() {
        xcb_damage_subtract(c(), damage, XCB_NONE, damagedParts);
        if (damagedParts == XCB_NONE) return;
        followRoot(damagedParts);
        if (stale) stale->add(damagedParts, -settings.region.x, -settings.region.y);
    }

    // Whether the cursor moved or changed where it shows in (or just left) the region.
    bool readCursor() {
        if (!settings.showsCursor || !hasFixes) return false;
        XcbReply<xcb_xfixes_get_cursor_image_reply_t> image(
            xcb_xfixes_get_cursor_image_reply(c(), xcb_xfixes_get_cursor_image(c()), nullptr));
        if (!image) return false;
        bool changed = !cursor.image || image->x != cursor.x || image->y != cursor.y ||
                       image->cursor_serial != cursor.serial;
        changed = changed && (overlaps(cursorRect(*image), settings.region) ||
                              (cursor.image && overlaps(cursorRect(*cursor.image), settings.region)));
        cursor.x = image->x;
        cursor.y = image->y;
        cursor.serial = image->cursor_serial;
        cursor.image = std::move(image);
        return changed;
    }

    // Takes one picture and hands it on; false when every buffer is still in use.
    bool capture() {
        auto index = pool->take();
        if (!index) return false;
        const auto& region = settings.region;
        const auto& slot = pool->slot(*index);
        const bool painted = composite;
        if (painted && treeDirty) refreshTree();
        // Without the root's damage in regions, what the root shows is copied whole each time.
        if (painted && damagedParts == XCB_NONE) followRoot(XCB_NONE);
        MediaTime taken;
        const xcb_render_picture_t target =
            !painted ? XCB_NONE : slotPictures.empty() ? canvasPicture : slotPictures[static_cast<std::size_t>(*index)];
        if (painted && !slotPictures.empty()) {
            paintCanvas(target, stale ? stale->take(target) : XCB_NONE);
            taken = hostTimeNow();
            // One round trip: the server has painted everything asked before it answers.
            XcbReply<xcb_get_input_focus_reply_t> done(
                xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr));
            if (!done) {
                pool->give(*index);
                pictureFailed("The X server did not finish the screen picture.");
            }
        } else {
            if (painted) paintCanvas(target, stale ? stale->take(target) : XCB_NONE);
            taken = hostTimeNow();
            xcb_drawable_t source = painted ? canvas : connection->root();
            std::int16_t x = painted ? 0 : static_cast<std::int16_t>(region.x);
            std::int16_t y = painted ? 0 : static_cast<std::int16_t>(region.y);
            XcbReply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(
                c(),
                xcb_shm_get_image(c(), source, x, y, static_cast<std::uint16_t>(region.width),
                                  static_cast<std::uint16_t>(region.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                  slot.segment, 0),
                nullptr));
            if (!image) {
                pool->give(*index);
                pictureFailed("The X server did not hand over the screen picture.");
            }
        }
        const std::size_t stride = static_cast<std::size_t>(region.width) * 4;
        if (!painted && settings.fillsAlpha) {
            // The screen's 24-bit pixels leave the fourth byte undefined; this grab without
            // Composite is the fallback only.
            auto* pixels = reinterpret_cast<std::uint32_t*>(slot.data);
            const std::size_t count = static_cast<std::size_t>(region.width) * static_cast<std::size_t>(region.height);
            for (std::size_t i = 0; i < count; ++i) pixels[i] |= 0xff000000u;
        }
        if (settings.showsCursor && cursor.image) {
            drawCursor(*cursor.image, region, slot.data, stride);
            // Drawn into the buffer itself: its next painting covers it again.
            if (stale && !slotPictures.empty()) {
                const PixelRect drawn = cursorRect(*cursor.image);
                stale->spoil(target, {static_cast<std::int16_t>(drawn.x - region.x), static_cast<std::int16_t>(drawn.y - region.y),
                                      static_cast<std::uint16_t>(drawn.width), static_cast<std::uint16_t>(drawn.height)});
            }
        }

        std::shared_ptr<ShmPool> keep = pool;
        int taken_index = *index;
        if (!grid) grid.emplace(taken, interval);
        SampleBuffer sample;
        sample.presentationTime = grid->slot(grid->stamp(taken));
        sample.duration = MediaTime::invalid();
        sample.frameStatus = FrameStatus::complete;
        sample.payload = PixelBuffer::wrap(slot.data, region.width, region.height, stride,
                                           [keep, taken_index] { keep->give(taken_index); });
        deliver(std::move(sample));
        delivered.fetch_add(1);
        return true;
    }

    // Handles what the server sends until `until` comes, or until damage is reported when
    // `untilDamage`; false when the source is stopping.
    bool waitUntil(MediaTime until, bool untilDamage = false) {
        for (;;) {
            if (stopping.load()) return false;
            handleEvents();
            if (untilDamage && (damageNotified || windowDrawn)) return true;
            const std::int64_t left = (until - hostTimeNow()).convertedTo(MediaTime::kNanosecondScale).value;
            if (left <= 0) return true;
            xcb_flush(c());
            const std::int64_t wait = std::min(left, kLongestWaitNanoseconds);
            timespec timeout{static_cast<time_t>(wait / 1'000'000'000), static_cast<long>(wait % 1'000'000'000)};
            pollfd descriptor{xcb_get_file_descriptor(c()), POLLIN, 0};
            ppoll(&descriptor, 1, &timeout, nullptr);
        }
    }

    // Each slot of the grid owns the half interval on either side of it. Within a slot's
    // window the first change in the region (damage, or the cursor, looked at as the window
    // opens) takes a picture, stamped with that slot; so a source that draws at the grid's
    // own rate gets a picture per slot whatever its phase. A picture that comes late takes
    // the next free slot, and windows that passed while this thread was held up are skipped.
    void loop() {
        const MediaTime half = interval.timescale <= std::numeric_limits<std::int32_t>::max() / 2
                                   ? MediaTime(interval.value, interval.timescale * 2)
                                   : MediaTime(interval.value / 2, interval.timescale);
        std::int64_t next = grid->nextFree();
        while (!stopping.load()) {
            try {
                if (!waitUntil(grid->slot(next) - half)) return;
                next = std::max(next, grid->slotAtOrBefore(hostTimeNow() + half));
                looks.fetch_add(1);
                if (composite && treeDirty) refreshTree();
                refreshDesktopWhenDue();
                if (readCursor()) cursorDirty = true;
                const MediaTime closes = grid->slot(next) + half;
                for (;;) {
                    if (regionDamaged()) screenDirty = true;
                    if (screenDirty || cursorDirty) {
                        // Every buffer still in use: the change stays pending for the next slot.
                        if (capture()) {
                            screenDirty = false;
                            cursorDirty = false;
                        }
                        break;
                    }
                    if (!waitUntil(closes, true)) return;
                    if (!damageNotified && !windowDrawn) break;  // the window closed without a change
                }
                next = std::max(next + 1, grid->nextFree());
            } catch (const std::exception& error) {
                std::string message = error.what();
                if (failure) {
                    failure(message);
                } else if (log) {
                    log("capture_frame_source_failed " + message);
                }
                return;
            }
        }
    }
};

X11FrameSource::X11FrameSource(FrameSourceSettings settings, Deliver deliver, Log log, Failure failure)
    : impl_(new Impl) {
    if (settings.region.width < 2 || settings.region.height < 2) {
        throw std::invalid_argument("A screen region needs at least 2 by 2 pixels.");
    }
    impl_->settings = std::move(settings);
    impl_->deliver = std::move(deliver);
    impl_->log = std::move(log);
    impl_->failure = std::move(failure);
}

X11FrameSource::~X11FrameSource() { stop(); }

void X11FrameSource::start() {
    if (impl_->thread.joinable()) return;
    std::promise<void> ready;
    auto started = ready.get_future();
    impl_->stopping = false;
    impl_->thread = std::thread([impl = impl_.get(), ready = std::move(ready)]() mutable {
        try {
            impl->setUp();
            impl->readCursor();
            impl->takeChangesSoFar();
            // The first picture comes at once, so that a still screen does not stall a start.
            impl->capture();
            impl->screenDirty = false;
        } catch (...) {
            ready.set_exception(std::current_exception());
            impl->disconnect();
            return;
        }
        ready.set_value();
        impl->loop();
    });
    try {
        started.get();
    } catch (...) {
        impl_->thread.join();
        throw;
    }
}

void X11FrameSource::stop() {
    impl_->stopping = true;
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->disconnect();
}

bool X11FrameSource::compositing() const { return impl_->composite.load(); }
std::int64_t X11FrameSource::framesDelivered() const { return impl_->delivered.load(); }
MediaTime X11FrameSource::frameInterval() const { return impl_->interval; }
std::int64_t X11FrameSource::slotsLookedAt() const { return impl_->looks.load(); }

}  // namespace yux::platform
