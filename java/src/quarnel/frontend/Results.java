package quarnel.frontend;

import quarnel.firmwaredownload.Executor;

/** The exit status each result leads to; the texts come from the library. */
final class Results {
    static final int OK = 0, FAILED = 1, USAGE = 2, REFUSED = 3, DEVICE = 4, NOTHING_WRITTEN = 5,
        NOT_VERIFIED = 6;

    private Results() {
    }

    /** What the library says `code` means for `operation` ("download", "dry run", "first stage", "build"). */
    static String text(String operation, int code) {
        String text = Executor.GetResultTextIF(operation, code);
        return text == null ? "see the result-code table in docs/front-end.md" : text;
    }

    /** Exit status of a download's (or dry run's) result code. */
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
