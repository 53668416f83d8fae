package com.tarnwick.nxo;

import java.awt.AWTEvent;
import java.awt.event.AWTEventListener;

/** Closes the splash when the application opens its first window. */
public class SplashCloseOnWindow implements AWTEventListener {

    private static final int WINDOW_OPENED = 200;

    @Override
    public void eventDispatched(AWTEvent event) {
        if (event.getID() == WINDOW_OPENED) {
            SplashScreen splash = SplashScreen.getSplashScreen();
            if (splash != null) {
                splash.close();
            }
        }
    }
}
