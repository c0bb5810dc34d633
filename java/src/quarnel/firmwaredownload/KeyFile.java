package quarnel.firmwaredownload;

/** Edits key files; compresses and decompresses files. */
public class KeyFile {
    static {
        System.loadLibrary("Korvo");
    }

    public native int OpenKeyDocumentIF(String fileName);
    public native int CloseKeyDocumentIF(boolean save);
    public native int AddKeyDeviceIF();
    public native int SetDeviceKeyIF(int device, String key);
    public native int AddKeySignatureIF(int device);
    public native int SetKeySignatureAttributesIF(int device, int signature, String value,
                                                  String communicationName);
    public native int AddKeyIdentficationRuleIF(int device, int type, String communicationName,
                                                String value, int index);
    public native int SetKeyUserAccessIF(int device, int signature, int level, int access);
    public native int AddKeyUserRuleIF(int device, int signature, int level, int datatype,
                                       int operator, String specifiedValue,
                                       String communicationName, int type, int index);
    public native int CompressIF(String inputFileName, String outputFileName);
    public native int DeCompressIF(String inputFileName, String outputFileName);
}
