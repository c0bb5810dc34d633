package quarnel.firmwaredownload;

/** Result of a download, filled in by the library. */
public class ExeResponse {
    public int iManagerError;
    public int iDeviceError;
    public String sAdditionalInfo;
    public boolean bOnlyAppDownloaded;
    public int iDeviceWhichWasUploaded;

    public ExeResponse() {
    }
}
