#include "platform/dialog_auto_clicker.h"

#include "platform/x11/button_row.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <memory>
#include <optional>

// X11: top-level windows are found by WM_CLASS and title; GTK draws buttons without windows
// of their own, so a button is found in the dialog's picture and pressed with a pointer
// click through XTest. GTK ignores synthetic (XSendEvent) input, and it did not take XTest
// key presses for the button's mnemonic either; a real pointer click is what it honours.

namespace {

// One connection to the display named by DISPLAY, for one operation.
struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr openDisplay() {
    return DisplayPtr(XOpenDisplay(nullptr));
}

// Windows of other programs may vanish at any moment; while a trap is alive an X error
// (such as BadWindow) is noted instead of ending the process, which is Xlib's default.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display) {
        failed_ = false;
        previous_ = XSetErrorHandler(&ErrorTrap::note);
    }
    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // True when an error arrived since the trap was set; waits for the server first.
    bool failed() const {
        XSync(display_, False);
        return failed_;
    }

private:
    static int note(Display*, XErrorEvent*) {
        failed_ = true;
        return 0;
    }

    static inline bool failed_ = false;
    Display* display_;
    XErrorHandler previous_;
};

template <typename T> struct XFreeDeleter {
    void operator()(T* data) const { XFree(data); }
};

QString utf8Property(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const Atom property = XInternAtom(display, name, False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    if (XGetWindowProperty(display, window, property, 0, 1024, False, utf8, &type, &format, &count,
                           &remaining, &data) != Success ||
        !data)
        return {};
    std::unique_ptr<unsigned char, XFreeDeleter<unsigned char>> owner(data);
    if (type != utf8 || format != 8)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
}

// _NET_WM_NAME when the window has it, else WM_NAME.
QString windowTitle(Display* display, Window window) {
    QString title = utf8Property(display, window, "_NET_WM_NAME");
    if (!title.isEmpty())
        return title;
    char* name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return {};
    std::unique_ptr<char, XFreeDeleter<char>> owner(name);
    return QString::fromLocal8Bit(name);
}

// WM_CLASS holds an instance name and a class name; either matches.
bool hasClass(Display* display, Window window, const QString& windowClass) {
    XClassHint hint{nullptr, nullptr};
    if (!XGetClassHint(display, window, &hint))
        return false;
    std::unique_ptr<char, XFreeDeleter<char>> name(hint.res_name);
    std::unique_ptr<char, XFreeDeleter<char>> klass(hint.res_class);
    return (name && QString::fromLocal8Bit(name.get()) == windowClass) ||
           (klass && QString::fromLocal8Bit(klass.get()) == windowClass);
}

QList<Window> childrenTopFirst(Display* display, Window parent) {
    Window root = None;
    Window ignored = None;
    Window* children = nullptr;
    unsigned int count = 0;
    QList<Window> result;
    if (!XQueryTree(display, parent, &root, &ignored, &children, &count))
        return result;
    std::unique_ptr<Window, XFreeDeleter<Window>> owner(children);
    for (unsigned int i = count; i > 0; --i)
        result.append(children[i - 1]);
    return result;
}

// Depth first, the topmost window first: window managers wrap each program's window in
// frames of their own, so top-level windows may sit a few levels below the root.
std::optional<Window> findBelow(Display* display, Window parent, const QString& windowClass,
                                const QString& title) {
    for (Window child : childrenTopFirst(display, parent)) {
        if (hasClass(display, child, windowClass) && windowTitle(display, child) == title)
            return child;
        if (const auto found = findBelow(display, child, windowClass, title))
            return found;
    }
    return std::nullopt;
}

// Asks the window manager to bring the dialog to the front and give it the focus.
void activate(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // a request from a pager-like tool, honoured at once
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XRaiseWindow(display, window);
    XSync(display, False);
}

int channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    const unsigned long maximum = mask >> shift;
    return static_cast<int>(((pixel & mask) >> shift) * 255 / maximum);
}

// The part of the window that lies on the screen, as a picture.
QImage capture(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return {};
    int x = 0;
    int y = 0;
    Window ignored = None;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &ignored);
    const QRect onScreen = QRect(x, y, attributes.width, attributes.height)
                               .intersected(QRect(0, 0, WidthOfScreen(attributes.screen),
                                                  HeightOfScreen(attributes.screen)));
    if (onScreen.isEmpty())
        return {};
    XImage* raw = XGetImage(display, window, onScreen.x() - x, onScreen.y() - y,
                            static_cast<unsigned int>(onScreen.width()),
                            static_cast<unsigned int>(onScreen.height()), AllPlanes, ZPixmap);
    if (!raw)
        return {};
    QImage image(onScreen.width(), onScreen.height(), QImage::Format_RGB32);
    for (int row = 0; row < image.height(); ++row)
        for (int column = 0; column < image.width(); ++column) {
            const unsigned long pixel = XGetPixel(raw, column, row);
            image.setPixel(column, row,
                           qRgb(channel(pixel, raw->red_mask), channel(pixel, raw->green_mask),
                                channel(pixel, raw->blue_mask)));
        }
    XDestroyImage(raw);
    return image;
}

// True when the innermost windows under the pointer include `window`, so a click there
// lands in it and not in a window that covers it.
bool pointerIsOver(Display* display, Window window) {
    Window current = DefaultRootWindow(display);
    while (current != None) {
        if (current == window)
            return true;
        Window root = None;
        Window child = None;
        int rootX = 0;
        int rootY = 0;
        int x = 0;
        int y = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(display, current, &root, &child, &rootX, &rootY, &x, &y, &mask))
            return false;
        current = child;
    }
    return false;
}

void movePointer(Display* display, const QPoint& to) {
    XTestFakeMotionEvent(display, -1, to.x(), to.y(), CurrentTime);
    XSync(display, False);
}

} // namespace

ForeignWindow DialogAutoClicker::findWindow(const ForeignWindow& parent, const QString& windowClass,
                                            const QString& title) {
    const DisplayPtr display = openDisplay();
    if (!display)
        return {};
    ErrorTrap trap(display.get());
    const Window below = parent ? static_cast<Window>(parent.id) : DefaultRootWindow(display.get());
    const auto found = findBelow(display.get(), below, windowClass, title);
    if (!found || trap.failed())
        return {};
    return {*found, {}};
}

// The dialog is brought to the front first, so its picture shows the dialog itself; a
// dialog that is not painted yet shows no button row and is looked at again next time.
ForeignWindow DialogAutoClicker::findButton(const ForeignWindow& dialog,
                                            const DialogButton& button) {
    if (!dialog)
        return {};
    const DisplayPtr display = openDisplay();
    if (!display)
        return {};
    ErrorTrap trap(display.get());
    const auto window = static_cast<Window>(dialog.id);
    activate(display.get(), window);
    const auto centre = ButtonRow::locate(capture(display.get(), window), button.placeFromRight);
    if (!centre || trap.failed())
        return {};
    return {dialog.id, *centre};
}

// The pointer is moved onto the point, checked to be over the window, pressed and released.
// It stays there: moved away at once, toolkits such as Qt drop the click.
bool DialogAutoClicker::click(const ForeignWindow& target) {
    if (!target)
        return false;
    const DisplayPtr display = openDisplay();
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!display || !XTestQueryExtension(display.get(), &event, &error, &major, &minor))
        return false;
    ErrorTrap trap(display.get());
    const auto window = static_cast<Window>(target.id);
    int x = 0;
    int y = 0;
    Window ignored = None;
    if (!XTranslateCoordinates(display.get(), window, DefaultRootWindow(display.get()),
                               target.point.x(), target.point.y(), &x, &y, &ignored) ||
        trap.failed())
        return false;
    movePointer(display.get(), {x, y});
    const bool over = pointerIsOver(display.get(), window);
    if (over) {
        XTestFakeButtonEvent(display.get(), Button1, True, CurrentTime);
        XTestFakeButtonEvent(display.get(), Button1, False, CurrentTime);
    }
    return over && !trap.failed();
}
