// Widget.draw, refresh and resize.
#include <stdint.h>
#include <string.h>
#include "widget.h"

namespace widget {

namespace {

const int32_t KEEP = INT32_MIN;  // a coordinate the script did not give
const int32_t MAX_EXTENT = 32767;
const size_t MAX_TEXT = 8192;

// The image part of draw, only when the string really holds
// imageWidth x imageHeight pixels and the target size is a real one: a
// short string or a bad size draws no image rather than reading past the
// string.
bool imageFits(int32_t width, int32_t height, size_t length, int32_t w, int32_t h) {
    if (width <= 0 || height <= 0) return false;
    // Beyond the display's 16-bit coordinates a stretch is no picture, and
    // under X it ends the process's display connection.
    if (w <= 0 || h <= 0 || w > MAX_EXTENT || h > MAX_EXTENT) return false;
    uint64_t need = (uint64_t)width * (uint64_t)height * 4;
    return need <= (uint64_t)INT32_MAX && need <= (uint64_t)length;
}

int32_t wrapAdd(int32_t a, int32_t b) { return (int32_t)((uint32_t)a + (uint32_t)b); }

}  // namespace

JSBool draw(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, "Widget.draw(<cmp>)", &cmp)) return JS_FALSE;
    HWND hWnd = (HWND)readHandle(cx, cmp, "hWnd");
    const char *type = readText(cx, cmp, "type", 0);
    int32_t imageWidth = readInt(cx, cmp, "imageWidth", 0);
    int32_t imageHeight = readInt(cx, cmp, "imageHeight", 0);
    int32_t w = readInt(cx, cmp, "w", imageWidth);
    int32_t h = readInt(cx, cmp, "h", imageHeight);
    size_t imageLength = 0;
    const char *image = 0;
    if (api->getPropertyValue(cx, cmp, "imageContent") != JSVAL_VOID)
        image = kx4FieldBytes(api, cx, cmp, "imageContent", &imageLength);
    const wchar_t *text = readUText(cx, cmp, "utext", 0);
    int32_t textX = readInt(cx, cmp, "textPosX", 0);
    int32_t textY = readInt(cx, cmp, "textPosY", 0);
    const wchar_t *face = readUText(cx, cmp, "textFont", L"Arial");
    int32_t textSize = readInt(cx, cmp, "textSize", 12);
    const char *style = readText(cx, cmp, "textStyle", "");
    int32_t color = readInt(cx, cmp, "textColor", 0);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    bool component = type && strcmp(type, "Component") == 0;

    Kx4HeapReleased released(api, cx);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hWnd, &ps);
    if (dc && image && imageFits(imageWidth, imageHeight, imageLength, w, h)) {
        // The pixels are premultiplied at load time: one AlphaBlend paints them.
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateBitmap(imageWidth, imageHeight, 1, 32, image);
        if (memory && bitmap) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            AlphaBlend(dc, 0, 0, w, h, memory, 0, 0, imageWidth, imageHeight, blend);
            SelectObject(memory, old);
        }
        if (bitmap) DeleteObject(bitmap);
        if (memory) DeleteDC(memory);
    }
    // Only a Component draws its text; a Frame or Dialog shows the image alone.
    if (dc && text && component) {
        SetBkMode(dc, TRANSPARENT);
        HFONT font = makeFont(face, textSize, style);
        HGDIOBJ oldFont = font ? SelectObject(dc, font) : 0;
        int32_t x = textX;
        if (hasLetter(style, 'C')) {
            x = wrapAdd(x, w / 2);
            SetTextAlign(dc, TA_CENTER | TA_TOP);
        } else if (hasLetter(style, 'R')) {
            x = wrapAdd(x, w);
            if (hasLetter(style, 'I')) x = wrapAdd(x, -2);  // room for the italic overhang
            SetTextAlign(dc, TA_RIGHT | TA_TOP);
        }
        SetTextColor(dc, RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
        // One line: past MAX_TEXT characters it is wider than any screen, and
        // the display server refuses (and under X disconnects) such a request.
        size_t length = wcslen(text);
        TextOutW(dc, x, textY, text, (int)(length > MAX_TEXT ? MAX_TEXT : length));
        if (font) {
            SelectObject(dc, oldFont);
            DeleteObject(font);
        }
    }
    EndPaint(hWnd, &ps);
    return JS_TRUE;
}

JSBool refresh(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, "Widget.refresh(<cmp>)", &cmp)) return JS_FALSE;
    HWND hWnd = (HWND)readHandle(cx, cmp, "hWnd");
    const char *type = readText(cx, cmp, "type", 0);
    bool edit = type && (strcmp(type, "Edit") == 0 || strcmp(type, "TextArea") == 0);
    const wchar_t *text = edit ? readUText(cx, cmp, "utext", 0) : 0;
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    // The edit's change notification or the repaint may be evaluated here.
    Kx4HeapReleased released(api, cx);
    if (edit)
        SetWindowTextW(hWnd, text);
    else
        InvalidateRect(hWnd, 0, TRUE);
    return JS_TRUE;
}

JSBool resize(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, "Widget.resize(<cmp>)", &cmp)) return JS_FALSE;
    HWND hWnd = (HWND)readHandle(cx, cmp, "hWnd");
    int32_t x = readInt(cx, cmp, "x", KEEP);
    int32_t y = readInt(cx, cmp, "y", KEEP);
    int32_t w = readInt(cx, cmp, "w", KEEP);
    int32_t h = readInt(cx, cmp, "h", KEEP);
    readText(cx, cmp, "type", "Frame");  // "Web" also resizes its browser view
    DWORD style = (DWORD)readInt(cx, cmp, "style", 0);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;

    Kx4HeapReleased released(api, cx);
    RECT r = {x == KEEP ? 0 : x, y == KEEP ? 0 : y, 0, 0};
    r.right = wrapAdd(r.left, w == KEEP ? 0 : w);
    r.bottom = wrapAdd(r.top, h == KEEP ? 0 : h);
    AdjustWindowRect(&r, style, FALSE);
    int32_t left = r.left, top = r.top;
    int32_t width = (int32_t)((uint32_t)r.right - (uint32_t)r.left);
    int32_t height = (int32_t)((uint32_t)r.bottom - (uint32_t)r.top);
    // A coordinate left out keeps the window's current one, rather than
    // sending the window to -2147483648.
    if (x == KEEP || y == KEEP || w == KEEP || h == KEEP) {
        RECT now;
        if (GetWindowRect(hWnd, &now)) {
            HWND parent = (GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD) ? GetParent(hWnd) : 0;
            if (parent) MapWindowPoints(0, parent, (POINT *)&now, 2);
            if (x == KEEP) left = now.left;
            if (y == KEEP) top = now.top;
            if (w == KEEP) width = now.right - now.left;
            if (h == KEEP) height = now.bottom - now.top;
        }
    }
    SetWindowPos(hWnd, 0, left, top, width, height, SWP_NOZORDER);
    return JS_TRUE;
}

}  // namespace widget
