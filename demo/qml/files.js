.pragma library

// The URL an Image shows for a file record: its cached copy, else its own path; built-in
// images are resources already.
function fileUrl(file) {
    if (!file)
        return "";
    const path = file.cacheFilePath !== "" ? file.cacheFilePath : file.filePath;
    if (path === "")
        return "";
    return path.startsWith("qrc:") ? path : "file://" + path;
}
