package quarnel.frontend;

import java.util.Map;

/** What the natives' result codes mean to a user, and the exit status each leads to. */
final class Results {
    static final int OK = 0, FAILED = 1, USAGE = 2, REFUSED = 3, DEVICE = 4;

    // The download natives' codes; docs/front-end.md lists every band.
    private static final Map<Integer, String> DOWNLOAD = Map.ofEntries(
        Map.entry(0, "success"),
        Map.entry(-1, "the application part could not be downloaded"),
        Map.entry(-2, "no device channel, or it could not be opened"),
        Map.entry(-4, "the access rights do not allow this download"),
        Map.entry(-5, "the device's second loader could not be started"),
        Map.entry(-10, "the device refused a configuration entry"),
        Map.entry(-11, "unknown DATA_TYPE"),
        Map.entry(-12, "the transfer of the program data failed"),
        Map.entry(-13, "the device could not finish the download"),
        Map.entry(-15, "the device's access mode could not be read"),
        Map.entry(-18, "an identification, signature or rule call to the device failed"),
        Map.entry(-19, "the device log could not be written"),
        Map.entry(-21, "the key file's device entry has no signatures"),
        Map.entry(-22, "no signature of the key file matches the device"),
        Map.entry(-23, "the device does not match the key file's identification"),
        Map.entry(-81, "NeededDownloaderVersion has no \".\""),
        Map.entry(-89, "the configuration lacks a section, device or entry"),
        Map.entry(-91, "the configuration file cannot be read"),
        Map.entry(-98, "the configuration needs a newer downloader"),
        Map.entry(-124, "the key file has no entry for the configuration's key"),
        Map.entry(-128, "the key file cannot be decompressed"));
    private static final Map<Integer, String> FIRST_STAGE = Map.of(
        0, "success",
        -1, "the configuration names no devices",
        -2, "no device channel",
        -3, "the device channel did not open",
        -12, "sending the data failed",
        -140, "the configuration has no APP device",
        -141, "a device has no DEVICE_TYPE",
        -142, "the APP device has no ADDRESS_RANGE",
        -143, "the device refused the address range");

    private Results() {
    }

    static String downloadText(int code) {
        return DOWNLOAD.getOrDefault(code, "see the result-code table in docs/front-end.md");
    }

    static String firstStageText(int code) {
        return FIRST_STAGE.getOrDefault(code, "see the result-code table in docs/front-end.md");
    }

    /** Exit status of a download's result code. */
    static int downloadStatus(int code) {
        switch (code) {
            case 0: return OK;
            case -4: case -21: case -22: case -23: case -81: case -98: return REFUSED;
            case -2: case -5: case -10: case -12: case -13: case -15: case -18: case -19: return DEVICE;
            default: return code <= -150 && code >= -156 ? DEVICE : FAILED;
        }
    }

    static int firstStageStatus(int code) {
        return code == 0 ? OK : code == -2 || code == -3 || code == -12 || code == -143 ? DEVICE : FAILED;
    }
}
