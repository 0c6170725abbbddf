#pragma once
// The application's resources, drawn by the program itself: icon 128, the
// default picture (bitmap 132), string 101, the dialog font, the maker's lines.
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace quillon {

inline constexpr int IDR_MAINFRAME = 128;  // application icon
inline constexpr int IDB_DEFAULT_PICTURE = 132;
inline constexpr int IDS_ABOUTBOX = 101;     // "&About Quillon..."
inline constexpr int IDM_ABOUTBOX = 0x0010;  // its system command

inline constexpr const char* kOrganisation = "Brevant";
inline constexpr const char* kApplication = "Quillon";
inline constexpr const char* kAppTitle = "Quillon";

// The maker's address behind the link button, and the notices.
inline constexpr const char* kMakerUrl = "https://brevant.example/";
inline constexpr const char* kMakerNotice = "A DICOM viewer by";
inline constexpr const char* kAboutNotice = "Copyright (C) Brevant";
inline constexpr const char* kAboutWeb = "https://brevant.example/";
inline constexpr const char* kAboutMail = "info@brevant.example";

// The text of a string resource (empty when there is none).
QString LoadString(int id);

// Bitmap 132: 128 x 128, light grey #C0C0C0 with a two-pixel white edge along
// the right and the bottom, in 16 colours.
QImage DefaultPictureImage();
QPixmap DefaultPicture();
// The default picture with "decoding..." across its middle: a selected
// frame whose thumbnail is still being made.
QPixmap DecodingPicture();

// Icon 128 in the usual sizes.
QIcon ApplicationIcon();

// "MS Shell Dlg" 8 points, or the nearest sans-serif font installed.
QFont DialogFont();

}  // namespace quillon
