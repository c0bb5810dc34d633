package quarnel.firmwaredownload;

/** Runs a firmware download from a configuration file and a key file. */
public class Executor {
    static {
        System.loadLibrary("Korvo");
    }

    public native ExeResponse ExecuteDownloadIF(String configFileName, String keyFileName,
                                                int deviceToSkip, int onlyDevice);

    /**
     * A dry run of ExecuteDownloadIF: every check up to, and not including, starting the
     * second loader, and which devices the download would write. Nothing is written to the
     * device. Returns the report (JSON text, as GetLastReportIF).
     */
    public native String DryRunDownloadIF(String configFileName, String keyFileName,
                                          int deviceToSkip, int onlyDevice);

    /** The report of the last download, dry run, first stage or build; "" before any. */
    public static native String GetLastReportIF();

    /**
     * The text of a result code as the operation ("download", "dry run", "first stage",
     * "build") means it.
     */
    public static native String GetResultTextIF(String operation, int code);
}
